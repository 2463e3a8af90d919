#include "platform/posix/msi/Condition.h"

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace stubframework::platform::msi::detail {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsNameStart(char c) {
    return IsLetter(c) || c == '_';
}
bool IsNameChar(char c) {
    return IsNameStart(c) || IsDigit(c) || c == '.';
}
char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Fold(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) {
        c = Lower(c);
    }
    return folded;
}

bool SameWord(std::string_view text, std::string_view keyword) {
    if (text.size() != keyword.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (Lower(text[i]) != Lower(keyword[i])) {
            return false;
        }
    }
    return true;
}

// The whole text as a 32-bit integer: an optional '-' and digits, nothing else.
std::optional<int> ToInteger(std::string_view text) {
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) {
        i = 1;
    }
    if (i == text.size()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i])) {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
        if (value > std::int64_t{INT32_MAX} + 1) {
            return std::nullopt;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

// Knuth-Morris-Pratt: linear in both, whatever the values hold.
bool Contains(std::string_view text, std::string_view part) {
    if (part.empty()) {
        return true;
    }
    if (part.size() > text.size()) {
        return false;
    }
    std::vector<std::size_t> border(part.size(), 0);
    for (std::size_t i = 1, k = 0; i < part.size(); ++i) {
        while (k > 0 && part[i] != part[k]) {
            k = border[k - 1];
        }
        if (part[i] == part[k]) {
            ++k;
        }
        border[i] = k;
    }
    for (std::size_t i = 0, k = 0; i < text.size(); ++i) {
        while (k > 0 && text[i] != part[k]) {
            k = border[k - 1];
        }
        if (text[i] == part[k]) {
            ++k;
        }
        if (k == part.size()) {
            return true;
        }
    }
    return false;
}

enum class Op {
    Equal,
    NotEqual,
    Greater,
    GreaterEqual,
    Less,
    LessEqual,
    Contains,    // ><
    StartsWith,  // <<
    EndsWith,    // >>
};

// A term's value: an integer literal or a state is an integer; a property,
// an environment variable or a quoted literal is text, which compares as an
// integer when the whole of it reads as one.
struct Value {
    bool integer = false;
    int number = 0;
    std::string text;

    std::optional<int> AsInteger() const {
        return integer ? std::optional<int>(number) : ToInteger(text);
    }
    // Alone, text holds when it is set (even "0"), an integer when non-zero.
    bool Holds() const { return integer ? number != 0 : !text.empty(); }
};

// The operators integers and text share: equality and order.
template <class T>
bool CompareOrdered(const T& left, Op op, const T& right) {
    switch (op) {
        case Op::Equal:
            return left == right;
        case Op::NotEqual:
            return left != right;
        case Op::Greater:
            return left > right;
        case Op::GreaterEqual:
            return left >= right;
        case Op::Less:
            return left < right;
        default:
            return left <= right;
    }
}

bool CompareIntegers(int left, Op op, int right) {
    const auto bits = static_cast<std::uint32_t>(left);
    switch (op) {
        case Op::Contains:
            return (left & right) != 0;
        case Op::StartsWith:
            return static_cast<int>(bits >> 16) == right;
        case Op::EndsWith:
            return static_cast<int>(bits & 0xFFFFu) == right;
        default:
            return CompareOrdered(left, op, right);
    }
}

bool CompareText(std::string_view left, Op op, std::string_view right) {
    switch (op) {
        case Op::Contains:
            return Contains(left, right);
        case Op::StartsWith:
            return left.starts_with(right);
        case Op::EndsWith:
            return left.ends_with(right);
        default:
            return CompareOrdered(left, op, right);
    }
}

bool Compare(const Value& left, Op op, bool ignoreCase, const Value& right) {
    const std::optional<int> a = left.AsInteger();
    const std::optional<int> b = right.AsInteger();
    if (a && b) {
        return CompareIntegers(*a, op, *b);
    }
    if (a || b) {
        // Text against an integer is only ever different.
        return op == Op::NotEqual;
    }
    if (ignoreCase) {
        return CompareText(Fold(left.text), op, Fold(right.text));
    }
    return CompareText(left.text, op, right.text);
}

enum class Kind { End, Invalid, Open, Close, Not, And, Or, Xor, Eqv, Imp, Compare, Value };

struct Token {
    Kind kind = Kind::End;
    Op op = Op::Equal;
    bool ignoreCase = false;
    Value value;
};

// Reads tokens, looking up the values of terms as it meets them.
class Lexer {
public:
    Lexer(std::string_view text, const ConditionContext& context)
        : text_(text), context_(context) {}

    Token Next() {
        while (pos_ < text_.size() && IsSpace(text_[pos_])) {
            ++pos_;
        }
        Token token;
        if (pos_ == text_.size()) {
            return token;
        }
        const char c = text_[pos_];
        token.kind = Kind::Invalid;
        if (c == '(' || c == ')') {
            ++pos_;
            token.kind = c == '(' ? Kind::Open : Kind::Close;
        } else if (c == '"') {
            const std::size_t end = text_.find('"', pos_ + 1);
            if (end != std::string_view::npos) {
                token.kind = Kind::Value;
                token.value.text = text_.substr(pos_ + 1, end - pos_ - 1);
                pos_ = end + 1;
            }
        } else if (IsDigit(c) ||
                   (c == '-' && pos_ + 1 < text_.size() && IsDigit(text_[pos_ + 1]))) {
            const std::size_t start = pos_++;
            while (pos_ < text_.size() && IsDigit(text_[pos_])) {
                ++pos_;
            }
            token.kind = Kind::Value;
            token.value.text = text_.substr(start, pos_ - start);
            if (const std::optional<int> number = ToInteger(token.value.text)) {
                // A literal too large for an integer stays text.
                token.value.integer = true;
                token.value.number = *number;
            }
        } else if (c == '%' || c == '$' || c == '?' || c == '&' || c == '!') {
            ++pos_;
            const std::string name = ReadName();
            if (!name.empty()) {
                token.kind = Kind::Value;
                token.value = Symbol(c, name);
            }
        } else if (IsNameStart(c)) {
            const std::string name = ReadName();
            token.kind = Keyword(name);
            if (token.kind == Kind::Value) {
                token.value.text = context_.Property(name);
            }
        } else {
            ReadComparison(token);
        }
        return token;
    }

private:
    std::string ReadName() {
        const std::size_t start = pos_;
        if (pos_ < text_.size() && IsNameStart(text_[pos_])) {
            while (pos_ < text_.size() && IsNameChar(text_[pos_])) {
                ++pos_;
            }
        }
        return std::string(text_.substr(start, pos_ - start));
    }

    static Kind Keyword(std::string_view word) {
        static constexpr std::pair<std::string_view, Kind> kKeywords[] = {
            {"NOT", Kind::Not}, {"AND", Kind::And}, {"OR", Kind::Or},
            {"XOR", Kind::Xor}, {"EQV", Kind::Eqv}, {"IMP", Kind::Imp},
        };
        for (const auto& [keyword, kind] : kKeywords) {
            if (SameWord(word, keyword)) {
                return kind;
            }
        }
        return Kind::Value;
    }

    Value Symbol(char sigil, const std::string& name) const {
        Value value;
        value.integer = true;
        switch (sigil) {
            case '%':
                value.integer = false;
                value.text = context_.Environment(name);
                break;
            case '$':
                value.number = context_.ComponentAction(name);
                break;
            case '?':
                value.number = context_.ComponentInstalled(name);
                break;
            case '&':
                value.number = context_.FeatureAction(name);
                break;
            default:
                value.number = context_.FeatureInstalled(name);
                break;
        }
        return value;
    }

    // =, <>, >, >=, <, <=, ><, <<, >>, each perhaps after ~.
    void ReadComparison(Token& token) {
        std::size_t at = pos_;
        if (text_[at] == '~') {
            token.ignoreCase = true;
            ++at;
        }
        if (at == text_.size()) {
            return;
        }
        const char first = text_[at];
        const char second = at + 1 < text_.size() ? text_[at + 1] : '\0';
        std::size_t length = 2;
        if (first == '=') {
            token.op = Op::Equal;
            length = 1;
        } else if (first == '<') {
            token.op = second == '>'   ? Op::NotEqual
                       : second == '=' ? Op::LessEqual
                       : second == '<' ? Op::StartsWith
                                       : Op::Less;
            length = token.op == Op::Less ? 1 : 2;
        } else if (first == '>') {
            token.op = second == '='   ? Op::GreaterEqual
                       : second == '<' ? Op::Contains
                       : second == '>' ? Op::EndsWith
                                       : Op::Greater;
            length = token.op == Op::Greater ? 1 : 2;
        } else {
            return;
        }
        token.kind = Kind::Compare;
        pos_ = at + length;
    }

    std::string_view text_;
    const ConditionContext& context_;
    std::size_t pos_ = 0;
};

// Precedence from the loosest: IMP, EQV, XOR, OR, AND; then NOT; then a
// comparison of two values, a lone value or a parenthesized expression.
// Only parentheses recurse, so the depth of the parser is bounded by theirs.
class Parser {
public:
    Parser(std::string_view text, const ConditionContext& context) : lexer_(text, context) {
        Advance();
    }

    ConditionResult Run() {
        if (current_.kind == Kind::End) {
            return ConditionResult::None;
        }
        const bool holds = Expression(0, 0);
        if (failed_ || current_.kind != Kind::End) {
            return ConditionResult::Error;
        }
        return holds ? ConditionResult::True : ConditionResult::False;
    }

private:
    static constexpr Kind kLevels[] = {Kind::Imp, Kind::Eqv, Kind::Xor, Kind::Or, Kind::And};

    void Advance() { current_ = lexer_.Next(); }

    bool Fail() {
        failed_ = true;
        current_ = Token{};
        current_.kind = Kind::Invalid;
        return false;
    }

    bool Expression(std::size_t level, int depth) {
        if (level == std::size(kLevels)) {
            return Factor(depth);
        }
        const Kind op = kLevels[level];
        bool left = Expression(level + 1, depth);
        while (current_.kind == op) {
            Advance();
            const bool right = Expression(level + 1, depth);
            switch (op) {
                case Kind::Imp:
                    left = !left || right;
                    break;
                case Kind::Eqv:
                    left = left == right;
                    break;
                case Kind::Xor:
                    left = left != right;
                    break;
                case Kind::Or:
                    left = left || right;
                    break;
                default:
                    left = left && right;
                    break;
            }
        }
        return left;
    }

    bool Factor(int depth) {
        bool invert = false;
        while (current_.kind == Kind::Not) {
            invert = !invert;
            Advance();
        }
        return Term(depth) != invert;
    }

    bool Term(int depth) {
        if (current_.kind == Kind::Open) {
            if (depth >= kMaxConditionDepth) {
                return Fail();
            }
            Advance();
            const bool holds = Expression(0, depth + 1);
            if (current_.kind != Kind::Close) {
                return Fail();
            }
            Advance();
            return holds;
        }
        if (current_.kind != Kind::Value) {
            return Fail();
        }
        const Value left = std::move(current_.value);
        Advance();
        if (current_.kind != Kind::Compare) {
            return left.Holds();
        }
        const Op op = current_.op;
        const bool ignoreCase = current_.ignoreCase;
        Advance();
        if (current_.kind != Kind::Value) {
            return Fail();
        }
        const Value right = std::move(current_.value);
        Advance();
        return Compare(left, op, ignoreCase, right);
    }

    Lexer lexer_;
    Token current_;
    bool failed_ = false;
};

}  // namespace

ConditionResult EvaluateCondition(std::string_view text, const ConditionContext& context) {
    return Parser(text, context).Run();
}

bool ConditionHolds(std::string_view text, const ConditionContext& context) {
    const ConditionResult result = EvaluateCondition(text, context);
    return result == ConditionResult::True || result == ConditionResult::None;
}

}  // namespace stubframework::platform::msi::detail
