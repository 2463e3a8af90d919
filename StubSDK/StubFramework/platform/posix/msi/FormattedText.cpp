#include "platform/posix/msi/FormattedText.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace stubframework::platform::msi::detail {
namespace {

// One opener not yet closed. The text is read once, left to right, and each
// closer resolves the innermost opener, which gives inside-out resolution
// without recursion; whatever is still open at the end is plain text.
struct Frame {
    char opener = '\0';  // '\0' for the whole text, '[' or '{'
    // [\c...]: the rest up to ']' is taken as it is.
    bool escape = false;
    // A bracket: a nested one was resolved into it.
    bool composed = false;
    // A group: it holds a reference, and one of those was empty.
    bool referenced = false;
    bool missing = false;
    std::string text;
};

class Formatter {
public:
    explicit Formatter(const FormatContext& context) : context_(context) { frames_.emplace_back(); }

    std::string Run(std::string_view text) {
        for (std::size_t pos = 0; pos < text.size(); ++pos) {
            const char c = text[pos];
            if (frames_.back().escape) {
                if (c == ']') {
                    CloseBracket();
                } else {
                    frames_.back().text += c;
                }
            } else if ((c == '[' || c == '{') && frames_.size() <= kMaxFormatDepth) {
                frames_.emplace_back().opener = c;
                if (c == '[' && pos + 1 < text.size() && text[pos + 1] == '\\') {
                    // The character after the backslash is taken even when it is a bracket.
                    frames_.back().escape = true;
                    const std::size_t end = std::min(pos + 3, text.size());
                    frames_.back().text.append(text.substr(pos + 1, end - pos - 1));
                    pos = end - 1;
                }
            } else if (c == ']' && frames_.back().opener == '[') {
                CloseBracket();
            } else if (c == '}' && frames_.back().opener == '{') {
                CloseGroup();
            } else {
                frames_.back().text += c;
            }
        }
        while (frames_.size() > 1) {
            Frame open = Pop();
            frames_.back().text += open.opener;
            frames_.back().text += open.text;
        }
        return std::move(frames_.back().text);
    }

private:
    Frame Pop() {
        Frame frame = std::move(frames_.back());
        frames_.pop_back();
        return frame;
    }

    Frame* InnermostGroup() {
        for (auto it = frames_.rbegin(); it != frames_.rend(); ++it) {
            if (it->opener == '{') {
                return &*it;
            }
        }
        return nullptr;
    }

    void CloseBracket() {
        const Frame bracket = Pop();
        frames_.back().composed = true;
        std::string& out = frames_.back().text;
        const std::string& key = bracket.text;
        if (key.empty()) {
            // "[]" as written stays; a name that resolved to nothing is nothing.
            if (!bracket.composed) {
                out += "[]";
            }
            return;
        }
        if (key[0] == '\\') {
            // Only the first character after the backslash is kept.
            if (key.size() > 1) {
                out += key[1];
            }
            return;
        }
        if (key == "~") {
            out += '\0';
            return;
        }
        const std::string name = key.substr(1);
        std::string value;
        switch (key[0]) {
            case '%':
                value = context_.Environment(name);
                break;
            case '#':
            case '!':  // the short path is the long one here
                value = context_.FilePath(name);
                break;
            case '$':
                value = context_.ComponentFolder(name);
                break;
            default:
                value = context_.Property(key);
                break;
        }
        if (Frame* group = InnermostGroup()) {
            group->referenced = true;
            group->missing = group->missing || value.empty();
        }
        const std::size_t room = kMaxSubstitutedSize - substituted_;
        const std::size_t size = std::min(value.size(), room);
        substituted_ += size;
        out.append(value, 0, size);
    }

    void CloseGroup() {
        const Frame group = Pop();
        std::string& out = frames_.back().text;
        if (!group.referenced) {
            out += '{';
            out += group.text;
            out += '}';
            return;
        }
        if (Frame* outer = InnermostGroup()) {
            outer->referenced = true;
            outer->missing = outer->missing || group.missing;
        }
        if (!group.missing) {
            out += group.text;
        }
    }

    const FormatContext& context_;
    std::vector<Frame> frames_;
    std::size_t substituted_ = 0;
};

}  // namespace

std::string FormatText(std::string_view text, const FormatContext& context) {
    return Formatter(context).Run(text);
}

}  // namespace stubframework::platform::msi::detail
