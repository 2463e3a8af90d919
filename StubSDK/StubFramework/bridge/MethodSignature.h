// What a script method expects: its invocation flags and argument types, and
// the checks every call passes before its handler runs; and what handlers use
// to read their arguments and write their result.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "bridge/MethodHandler.h"

namespace stubframework {

// Flags a typed script engine passes: 1 a call, 3 a call that may read a value.
inline constexpr WORD kMethod = DISPATCH_METHOD;
inline constexpr WORD kMethodOrGet = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
// The handler runs no checks at all.
inline constexpr WORD kAnyFlags = 0;

inline constexpr std::size_t kMaxArguments = 6;

struct MethodSignature {
    constexpr MethodSignature(std::string_view methodName, WORD methodFlags,
                              std::initializer_list<VARTYPE> types, const char* firstLog = nullptr,
                              bool checkTypes = true)
        : name(methodName), flags(methodFlags), logFirst(firstLog), typesChecked(checkTypes) {
        for (const VARTYPE type : types) {
            arguments[argumentCount++] = type;
        }
    }

    std::string_view name;
    WORD flags;
    std::array<VARTYPE, kMaxArguments> arguments{};  // in script order
    UINT argumentCount = 0;
    const char* logFirst;  // the handler's log name, written before the checks
    bool typesChecked;     // false: flags and count only
};

// The flags a typed script engine passes for the method: the table's value,
// or a call that wants the result when the method takes any.
constexpr WORD ScriptFlags(const MethodSignature& signature) {
    return signature.flags == kAnyFlags ? kMethodOrGet : signature.flags;
}

// The preamble: the log name when it comes first, then the flags, the
// argument count and the argument types. S_OK when the handler may go on.
HRESULT CheckCall(ExternalMethods& owner, const MethodSignature& signature, WORD flags,
                  DISPPARAMS* params);

// Compares the VARIANT types exactly; `expected` is in DISPPARAMS order
// (position 0 is the last script argument). Logs the first mismatch.
HRESULT CheckParamTypes(ExternalMethods& owner, const DISPPARAMS* params, const VARTYPE* expected,
                        UINT count);

// The argument at `scriptIndex` (0 is the first one the script passed).
const VARIANT& ScriptArgument(const DISPPARAMS* params, UINT scriptIndex);
std::string StringArgument(const DISPPARAMS* params, UINT scriptIndex);
LONG IntArgument(const DISPPARAMS* params, UINT scriptIndex);
// True exactly for VARIANT_TRUE.
bool BoolArgument(const DISPPARAMS* params, UINT scriptIndex);

// Results, written only when the script asked for one.
void ReturnString(VARIANT* result, std::string_view text);
void ReturnBool(VARIANT* result, bool value);
void ReturnInt(VARIANT* result, LONG value);
void ReturnUInt(VARIANT* result, ULONG value);

}  // namespace stubframework
