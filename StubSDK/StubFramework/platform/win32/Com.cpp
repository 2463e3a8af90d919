#include "platform/com.h"

#include "platform/unicode.h"

// MinGW's uuid library lacks the script engines' interface.
extern "C" const IID IID_IDispatchEx = {
    0xa6ef9860, 0xc720, 0x11d0, {0x93, 0x37, 0x00, 0xa0, 0xc9, 0x0d, 0xca, 0xa9}};

namespace stubframework::platform::com {

BSTR AllocString(std::string_view utf8) {
    const std::u16string wide = Utf8ToUtf16(utf8);
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()),
                             static_cast<UINT>(wide.size()));
}

std::string ToUtf8(BSTR text) {
    // The length prefix counts, not the first null: a BSTR may hold nulls.
    return text == nullptr ? std::string()
                           : Utf16ToUtf8(std::u16string_view(
                                 reinterpret_cast<const char16_t*>(text), SysStringLen(text)));
}

}  // namespace stubframework::platform::com
