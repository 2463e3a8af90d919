// The table of script-callable methods: names in code-unit order, each with
// its handler. It owns the lock of the property store, so the store is
// usable from other threads exactly while the table lives.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "bridge/MethodHandler.h"
#include "htmlui/MSHTMLExternal.h"

namespace stubframework {

class StubFramework;

class ExternalMethods {
public:
    // Keeps the framework, takes over the property-store lock, pours the
    // resume record into the store, then registers the built-in methods.
    explicit ExternalMethods(StubFramework& framework);
    virtual ~ExternalMethods();
    ExternalMethods(const ExternalMethods&) = delete;
    ExternalMethods& operator=(const ExternalMethods&) = delete;

    // The window that owns message boxes and dialogs and that the window
    // methods act on.
    virtual void SetHostWindow(htmlui::WindowHandle window) { window_ = window; }
    htmlui::WindowHandle HostWindow() const { return window_; }

    struct Method {
        MethodHandler handler;
        WORD scriptFlags;  // what a typed script engine passes when it calls the method
    };

    // Inserts the method or replaces its handler. Only before the dispatch
    // table is built: the names are fixed from then on.
    void RegisterMethod(const std::string& name, MethodHandler handler,
                        WORD scriptFlags = DISPATCH_METHOD);
    const std::map<std::string, Method>& Methods() const { return methods_; }

    StubFramework& Framework() const { return framework_; }

private:
    StubFramework& framework_;
    htmlui::WindowHandle window_ = nullptr;
    std::mutex propertyLock_;
    std::map<std::string, Method> methods_;  // UTF-8 byte order is code-point order
};

}  // namespace stubframework
