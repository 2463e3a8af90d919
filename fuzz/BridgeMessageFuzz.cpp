// Requests of a page reach the dispatch as JSON from the loopback server:
// any body must give a reply or a refusal, never a crash. They run against
// the real method table, minus the methods that start programs or end the
// process.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/Framework.h"
#include "bridge/ExternalMethods.h"
#include "platform/posix/host/BridgeDispatch.h"

namespace {

HRESULT Inert(stubframework::ExternalMethods&, WORD, DISPPARAMS*, VARIANT*) {
    return S_OK;
}

class NoWindow final : public stubframework::platform::window::HostEvents {
public:
    void OnWindowCreated(stubframework::platform::window::Handle) override {}
    void OnDocumentComplete() override {}
    void OnWindowDestroyed() override {}
    void OnNote(const std::string&) override {}
};

struct World {
    World() {
        framework = std::make_unique<stubframework::StubFramework>(
            stubframework::core::ProductValues{"Brindlemark", "24.0.0", "test"}, nullptr);
        methods = std::make_unique<stubframework::ExternalMethods>(*framework);
        using stubframework::kMethod;
        using stubframework::kMethodOrGet;
        constexpr VARTYPE kString = VT_BSTR;
        static constexpr stubframework::MethodRow kInert[] = {
            {"terminateWindow", kMethod, {}, Inert},
            {"executeCommand", kMethodOrGet, {kString}, Inert},
            {"runApplication", kMethodOrGet, {kString}, Inert},
            {"startProgram", kMethod, {kString, kString}, Inert},
            {"openPage", kMethodOrGet, {kString}, Inert},
            {"restartSystem", kMethod, {kString, kString}, Inert},
            {"startRegApps", kMethod, {}, Inert},
        };
        methods->RegisterMethods(kInert);
        framework->Dispatch().BuildDispatchTable(*methods);
        hub->Issue();  // session 1: the one well-formed inputs name
    }
    std::unique_ptr<stubframework::StubFramework> framework;
    std::unique_ptr<stubframework::ExternalMethods> methods;
    NoWindow events;
    std::shared_ptr<stubframework::platform::posix::EventHub> hub =
        std::make_shared<stubframework::platform::posix::EventHub>();
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static World* world = new World();  // lives for the whole run
    const std::string body(reinterpret_cast<const char*>(data), size);
    bool badRequest = false;
    const std::string reply = stubframework::platform::posix::DispatchBridgeMessage(
        body, world->framework->Dispatch(), world->events, world->hub, badRequest);
    if (reply.empty()) {
        std::abort();
    }
    return 0;
}
