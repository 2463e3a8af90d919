#include "MyExternalMethods.h"

#include "ProductMethods.h"
#include "app/Framework.h"

namespace myexternalmethods {

MyExternalMethods::MyExternalMethods(stubframework::StubFramework& framework)
    : ExternalMethods(framework) {
    RegisterMethods(ProductMethods());
}

MyExternalMethods::~MyExternalMethods() = default;

}  // namespace myexternalmethods
