// The page in whatever browser the desktop (or a test) opens it with. There
// is no native window: its placement is remembered, not shown, and message
// boxes are answered from STUB_DIALOG_ANSWERS.
#include "platform/posix/host/DialogAnswers.h"
#include "platform/posix/host/HostBackend.h"
#include "platform/posix/host/LoopbackBridge.h"
#include "platform/process.h"
#include "platform/windowthread.h"

namespace stubframework::platform::posix {
namespace {

// A screen of this size stands in for the monitor under the mouse.
constexpr window::Rect kWorkArea{0, 0, 1920, 1080};

class ExternalBackend final : public HostBackend {
public:
    ExternalBackend() = default;

    std::unique_ptr<PageServer> ServePages(PageSource source) override {
        return std::make_unique<LoopbackBridge>(std::move(source));
    }

    bool Open(const std::string& url, const std::string& launch) override {
        PublishUrl("STUB_URL_FILE", url);
        if (process::EnvironmentVariable("STUB_NO_BROWSER") != "1" && !launch.empty()) {
            process::LaunchAsDesktopUser("xdg-open", {launch});
        }
        return true;
    }

    void RunUntilClosed() override { RunWindowLoop(); }
    void RequestClose() override { QuitWindowLoop(); }
    bool WatchesPage() const override { return true; }
    void Show(bool /*visible*/) override {}
    void BeginDrag() override {}
    void Activate() override {}
    void Minimize() override {}
    int Dpi() override { return 96; }
    window::Rect OuterFromClient(const window::Rect& client) override { return client; }
    window::Rect ClientRect() override { return {0, 0, position_.Width(), position_.Height()}; }

    void PlacementReference(window::Rect& reference, window::Rect& workArea) override {
        reference = kWorkArea;
        workArea = kWorkArea;
    }

    void SetPosition(const window::Rect& outer) override { position_ = outer; }

    window::MessageAnswer MessageBox(const std::string& /*text*/, const std::string& /*title*/,
                                     window::MessageButtons buttons, bool /*owned*/) override {
        return answers_.NextFor(buttons);
    }

    bool SelectFolder(const std::string& /*initialFolder*/, std::string& chosen) override {
        const std::string answer = answers_.Next();
        if (answer.empty() || answer == "cancel" || answer == "ok") {
            return false;
        }
        chosen = answer;
        return true;
    }

private:
    DialogAnswers answers_;
    window::Rect position_{};
};

}  // namespace

std::unique_ptr<HostBackend> CreateExternalBackend() {
    return std::make_unique<ExternalBackend>();
}

}  // namespace stubframework::platform::posix
