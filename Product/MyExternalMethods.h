// The product's layer over the framework's method table.
#pragma once

#include "bridge/ExternalMethods.h"

namespace myexternalmethods {

class MyExternalMethods : public stubframework::ExternalMethods {
public:
    explicit MyExternalMethods(stubframework::StubFramework& framework);
    ~MyExternalMethods() override;
};

}  // namespace myexternalmethods
