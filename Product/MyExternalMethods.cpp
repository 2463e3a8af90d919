#include "MyExternalMethods.h"

namespace myexternalmethods {

MyExternalMethods::MyExternalMethods(stubframework::StubFramework& framework)
    : ExternalMethods(framework) {}

MyExternalMethods::~MyExternalMethods() = default;

}  // namespace myexternalmethods
