// The installer's entry point: start, build the method table, run the
// wizard, tear down.
#include <exception>
#include <memory>

#include "MyExternalMethods.h"
#include "ProductValues.h"
#include "app/MainSequence.h"
#include "platform/process.h"

int main(int argc, char** argv) {
    stubframework::platform::process::SetArguments(argc, argv);

    std::unique_ptr<stubframework::StubFramework> framework =
        stubframework::Start(myexternalmethods::BrindlemarkProduct());
    if (!framework) {
        return 0;
    }
    framework->Core().ExternalProperties()["propertyName1"] = "propertyValue1";

    auto methods = std::make_unique<myexternalmethods::MyExternalMethods>(*framework);

    bool endedByException = false;
    try {
        stubframework::Run(*framework, *methods);
    } catch (...) {
        endedByException = true;  // the final report names no known reason
    }
    methods->SendFinalEvent(endedByException);

    stubframework::Teardown(std::move(framework));
    methods.reset();
    return 0;
}
