// The product's layer over the framework's method table: the framework's
// methods, then the product's own rows (ProductMethods).
#pragma once

#include "bridge/ExternalMethods.h"

namespace stubframework {
class StubFramework;
}

namespace myexternalmethods {

class MyExternalMethods : public stubframework::ExternalMethods {
public:
    // Registers the product's methods after the framework's.
    explicit MyExternalMethods(stubframework::StubFramework& framework);
    ~MyExternalMethods() override;
};

}  // namespace myexternalmethods
