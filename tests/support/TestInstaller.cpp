// A second product on the framework for process-level tests. It behaves like
// the real installer, except that while it runs it can
//  - keep its "window" open while the file named by STUB_TEST_HOLD_FILE exists;
//  - act as the pages do when they choose to self-update: put the program
//    named by STUB_TEST_NEW_VERSION beside itself, record it, and end with the
//    self-update code, or with STUB_TEST_EXIT_CODE when that is set.
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "bridge/ExternalMethods.h"
#include "core/MainSequence.h"
#include "core/RegistryText.h"
#include "platform/fs.h"
#include "platform/process.h"

namespace {

namespace fs = stubframework::platform::fs;
namespace process = stubframework::platform::process;

constexpr const char* kNewVersionName = "BrindlemarkInstall.new";

void HoldWhileFileExists(const std::string& path) {
    for (int i = 0; i < 1500 && fs::Exists(path); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void StageSelfUpdate(stubframework::core::FrameworkCore& core, const std::string& newVersion) {
    const std::string self = process::ExecutablePath();
    const std::string folder = self.substr(0, self.rfind('/') + 1);
    fs::CopyFile(newVersion, folder + kNewVersionName, false);
    stubframework::core::WriteRegistryText(core.RegistryBase(), "update_stub_name",
                                           kNewVersionName);
    stubframework::core::WriteRegistryText(core.RegistryBase(), "selfupdate_code", "197800");
    core.SetExitCode(stubframework::kSelfUpdateExitCode);
}

}  // namespace

int main(int argc, char** argv) {
    process::SetArguments(argc, argv);
    auto framework = stubframework::Start({"Brindlemark", "24.0.0", "test"});
    if (!framework) {
        return 0;
    }
    auto methods = std::make_unique<stubframework::ExternalMethods>(*framework);
    if (const std::string hold = process::EnvironmentVariable("STUB_TEST_HOLD_FILE");
        !hold.empty()) {
        HoldWhileFileExists(hold);
    }
    stubframework::Run(*framework, *methods);
    if (const std::string next = process::EnvironmentVariable("STUB_TEST_NEW_VERSION");
        !next.empty()) {
        StageSelfUpdate(framework->Core(), next);
    }
    const std::string exitCode = process::EnvironmentVariable("STUB_TEST_EXIT_CODE");
    if (!exitCode.empty()) {
        framework->Core().SetExitCode(std::atoi(exitCode.c_str()));
    }
    const int code = framework->Core().ExitCode();
    stubframework::Teardown(std::move(framework));
    methods.reset();
    return exitCode.empty() ? 0 : code;
}
