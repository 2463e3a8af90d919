// The table of script-callable methods: names in code-unit order, each with
// its row (signature and handler). It owns the lock of the property store,
// so the store is usable from other threads exactly while the table lives.
#pragma once

#include <map>
#include <mutex>
#include <span>
#include <string>

#include "bridge/FrameworkServices.h"
#include "bridge/MethodTable.h"
#include "htmlui/MSHTMLExternal.h"

namespace stubframework {

class ExternalMethods {
public:
    // Keeps the framework, takes over the property-store lock, pours the
    // resume record into the store, then registers the built-in methods.
    explicit ExternalMethods(FrameworkServices& framework);
    virtual ~ExternalMethods();
    ExternalMethods(const ExternalMethods&) = delete;
    ExternalMethods& operator=(const ExternalMethods&) = delete;

    // The window that owns message boxes and dialogs and that the window
    // methods act on.
    virtual void SetHostWindow(htmlui::WindowHandle window) { window_ = window; }
    htmlui::WindowHandle HostWindow() const { return window_; }

    // Inserts each row's method or replaces the row of a name already there.
    // Only before the dispatch table is built: the names are fixed from then on.
    void RegisterMethods(std::span<const MethodRow> rows);
    const std::map<std::string, MethodRow>& Methods() const { return methods_; }

    FrameworkServices& Framework() const { return framework_; }
    debug::InstallerLog* Log() const { return framework_.Log(); }
    core::FrameworkCore& Core() const { return framework_.Core(); }
    core::HtmlExternal& Dispatch() const { return framework_.Dispatch(); }

private:
    FrameworkServices& framework_;
    htmlui::WindowHandle window_ = nullptr;
    std::mutex propertyLock_;
    std::map<std::string, MethodRow> methods_;  // UTF-8 byte order is code-point order
};

namespace methods {

// Where a method's log lines go.
inline const FrameworkServices* Log(ExternalMethods& owner) {
    return &owner.Framework();
}

}  // namespace methods

}  // namespace stubframework
