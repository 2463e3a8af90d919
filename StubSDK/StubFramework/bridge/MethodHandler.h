// The signature of a script-callable method: the table it belongs to, the
// invocation flags, the arguments (in DISPPARAMS order, last script argument
// first) and the result, or null when the script wants none.
#pragma once

#include "platform/com.h"

namespace stubframework {

class ExternalMethods;

using MethodHandler = HRESULT (*)(ExternalMethods& owner, WORD flags, DISPPARAMS* params,
                                  VARIANT* result);

}  // namespace stubframework
