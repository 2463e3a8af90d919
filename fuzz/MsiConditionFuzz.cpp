// Conditions and formatted text come from packages: any text evaluates to
// one of the four results and formats within the limits, even when the
// properties it reads refer to one another or to the text itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "platform/posix/msi/Condition.h"
#include "platform/posix/msi/FormattedText.h"

namespace {

using namespace stubframework::platform::msi::detail;

class Context : public ConditionContext, public FormatContext {
public:
    explicit Context(std::string_view input) {
        properties_ = {
            {"A", "[B]"},       {"B", "[A]"},
            {"Self", "[Self]"}, {"Ptr", "Name"},
            {"Name", "Hello"},  {"One", "1"},
            {"Num", "-65536"},  {"Group", "{[A]}"},
            {"Brace", "{"},     {"Open", "["},
            {"Tilde", "~"},     {"Esc", "\\"},
            {"Dir", "/opt/a/"}, {"Input", std::string(input)},
        };
    }

    std::string Property(const std::string& name) const override {
        const auto found = properties_.find(name);
        return found != properties_.end() ? found->second : "";
    }
    std::string Environment(const std::string& name) const override { return Property(name); }
    std::string FilePath(const std::string& fileKey) const override {
        return fileKey.empty() ? "" : "/opt/a/" + fileKey;
    }
    std::string ComponentFolder(const std::string& component) const override {
        return Property(component);
    }
    int ComponentInstalled(const std::string& name) const override { return State(name, 0); }
    int ComponentAction(const std::string& name) const override { return State(name, 1); }
    int FeatureInstalled(const std::string& name) const override { return State(name, 2); }
    int FeatureAction(const std::string& name) const override { return State(name, 3); }

private:
    static int State(const std::string& name, std::size_t salt) {
        return static_cast<int>((name.size() + salt) % 6) - 1;
    }

    std::map<std::string, std::string> properties_;
};

bool HasMarkup(std::string_view text) {
    return text.find_first_of("[]{}") != text.npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Context context(text);

    const ConditionResult result = EvaluateCondition(text, context);
    if (result != ConditionResult::False && result != ConditionResult::True &&
        result != ConditionResult::None && result != ConditionResult::Error) {
        std::abort();
    }
    if (ConditionHolds(text, context) !=
        (result == ConditionResult::True || result == ConditionResult::None)) {
        std::abort();
    }

    const std::string formatted = FormatText(text, context);
    if (formatted.size() > text.size() + kMaxSubstitutedSize) {
        std::abort();
    }
    if (!HasMarkup(text) && formatted != text) {
        std::abort();
    }
    return 0;
}
