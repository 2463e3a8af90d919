// Formatted text of packages (registry values, shortcut arguments, property
// settings...): [Name] a property, [%NAME] an environment variable, [#File]
// and [!File] the path of a file, [$Component] the folder of a component,
// [\c] the character c, [~] a NUL, [[Name]] resolved inside-out, and groups
// {...} that vanish when a reference inside them is empty and otherwise lose
// their braces; a group without references (a GUID) stays as written.
//
// Substituted values are never formatted again, so a property that refers
// to itself expands once. The text comes from the package, so openers that
// nest deeper than kMaxFormatDepth are plain text, and the substituted values
// add at most kMaxSubstitutedSize bytes in all: past it they are cut short.
// Unbalanced brackets and braces are kept as written.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace stubframework::platform::msi::detail {

inline constexpr std::size_t kMaxFormatDepth = 32;
inline constexpr std::size_t kMaxSubstitutedSize = std::size_t{1} << 20;

// What formatting reads; "" for anything unknown. Directory keys are
// properties whose value is the folder with a trailing separator.
class FormatContext {
public:
    virtual ~FormatContext() = default;
    virtual std::string Property(const std::string& name) const = 0;
    virtual std::string Environment(const std::string& name) const = 0;
    // The full path of a file of the package as installed (or to be).
    virtual std::string FilePath(const std::string& fileKey) const = 0;
    virtual std::string ComponentFolder(const std::string& component) const = 0;
};

std::string FormatText(std::string_view text, const FormatContext& context);

}  // namespace stubframework::platform::msi::detail
