// The method table's rows: each names a script method, fixes what a call of
// it must look like (flags, argument types, the log name written before the
// checks) and holds the handler that does its work once the call passed the
// checks. The framework's rows and a product's rows have the same shape and
// are registered the same way.
#pragma once

#include <initializer_list>
#include <span>
#include <string_view>

#include "bridge/MethodSignature.h"

namespace stubframework {

struct MethodRow {
    constexpr MethodRow(std::string_view name, WORD flags, std::initializer_list<VARTYPE> types,
                        MethodHandler methodHandler, const char* logFirst = nullptr,
                        bool checkTypes = true)
        : signature(name, flags, types, logFirst, checkTypes), handler(methodHandler) {}

    MethodSignature signature;
    MethodHandler handler;
};

// The preamble (the log name when it comes first, then flags, count and
// types), then the handler.
HRESULT CallMethod(ExternalMethods& owner, const MethodRow& row, WORD flags, DISPPARAMS* params,
                   VARIANT* result);

// The framework's own methods, in the order the table registers them.
std::span<const MethodRow> BuiltInMethods();

}  // namespace stubframework
