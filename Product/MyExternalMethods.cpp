#include "MyExternalMethods.h"

#include "ProductMethods.h"
#include "app/Framework.h"

namespace myexternalmethods {

MyExternalMethods::MyExternalMethods(stubframework::StubFramework& framework)
    : ExternalMethods(framework), sender_(MakeLoggingSender(Log())) {
    RegisterMethods(ProductMethods());
}

MyExternalMethods::~MyExternalMethods() = default;

}  // namespace myexternalmethods
