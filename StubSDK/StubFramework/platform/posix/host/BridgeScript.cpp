#include "platform/posix/host/BridgeScript.h"

#include <nlohmann/json.hpp>

namespace stubframework::platform::posix {

// The text of BridgeScript.js, embedded at build time.
extern const char kBridgeScriptText[];

std::string BridgeScript(const BridgeScriptConfig& settings) {
    nlohmann::json config;
    config["base"] = settings.base;
    config["session"] = settings.session;
    config["quietDialogs"] = settings.quietDialogs;
    config["eventStream"] = settings.eventStream;
    config["deliver"] = kDeliverFunction;
    config["methods"] = nlohmann::json::object();
    for (const auto& [name, flags] : settings.methods) {
        config["methods"][name] = flags;
    }
    std::string text = config.dump();
    // Inside a <script> element "</" would end it early.
    for (std::size_t at = text.find("</"); at != std::string::npos; at = text.find("</", at + 2)) {
        text.replace(at, 2, "<\\/");
    }
    std::string script = kBridgeScriptText;
    const std::string placeholder = "__CONFIG__";
    script.replace(script.find(placeholder), placeholder.size(), text);
    return script;
}

}  // namespace stubframework::platform::posix
