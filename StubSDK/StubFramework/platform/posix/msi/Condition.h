// The condition language of packages: launch conditions, the conditions of
// components and features, and those of the actions of a sequence. The text
// comes from the package, so a malformed or hostile condition is an Error,
// evaluated in time linear in the text and the values it reads, and
// parentheses nest at most kMaxConditionDepth deep.
#pragma once

#include <string>
#include <string_view>

namespace stubframework::platform::msi::detail {

// Installed and action states of components and features (INSTALLSTATE_*).
inline constexpr int kStateUnknown = -1;
inline constexpr int kStateAdvertised = 1;
inline constexpr int kStateAbsent = 2;
inline constexpr int kStateLocal = 3;
inline constexpr int kStateSource = 4;

inline constexpr int kMaxConditionDepth = 64;

// What a condition reads; the session implements it.
class ConditionContext {
public:
    virtual ~ConditionContext() = default;
    // "" when unset; names are case-sensitive.
    virtual std::string Property(const std::string& name) const = 0;
    virtual std::string Environment(const std::string& name) const = 0;
    // States, kStateUnknown for a name the package does not have.
    virtual int ComponentInstalled(const std::string& name) const = 0;
    virtual int ComponentAction(const std::string& name) const = 0;
    virtual int FeatureInstalled(const std::string& name) const = 0;
    virtual int FeatureAction(const std::string& name) const = 0;
};

// MSICONDITION_FALSE, _TRUE, _NONE (nothing but white space) and _ERROR.
enum class ConditionResult { False, True, None, Error };

ConditionResult EvaluateCondition(std::string_view text, const ConditionContext& context);
// How every caller reads a condition: True and None hold, False and Error do not.
bool ConditionHolds(std::string_view text, const ConditionContext& context);

}  // namespace stubframework::platform::msi::detail
