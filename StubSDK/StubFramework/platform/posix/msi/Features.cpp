#include "platform/posix/msi/Features.h"

#include <cstdlib>
#include <sstream>

namespace stubframework::platform::msi::detail {
namespace {

// A comma-separated list of feature keys; "ALL" stands for every feature.
std::set<std::string> FeatureList(const std::string& text, const Package& package) {
    std::set<std::string> names;
    if (text == "ALL") {
        for (const PackageFeature& feature : package.Features()) {
            names.insert(feature.key);
        }
        return names;
    }
    std::stringstream list(text);
    for (std::string name; std::getline(list, name, ',');) {
        if (!name.empty()) {
            names.insert(name);
        }
    }
    return names;
}

int InstallLevel(const ConditionContext& properties) {
    const std::string text = properties.Property("INSTALLLEVEL");
    char* end = nullptr;
    const long level = std::strtol(text.c_str(), &end, 10);
    return text.empty() || *end != '\0' || level < 1 ? 1 : static_cast<int>(level);
}

}  // namespace

Selection SelectFeatures(const Package& package, const std::set<std::string>& installedFeatures,
                         const std::set<std::string>& installedComponents,
                         const ConditionContext& properties) {
    const std::set<std::string> add = FeatureList(properties.Property("ADDLOCAL"), package);
    const std::set<std::string> remove = FeatureList(properties.Property("REMOVE"), package);
    // A first installation without either list goes by the levels.
    const bool byLevel = installedFeatures.empty() && properties.Property("ADDLOCAL").empty() &&
                         properties.Property("REMOVE").empty();
    const int installLevel = InstallLevel(properties);
    std::map<std::string, int> levels;
    std::map<std::string, std::string> parents;
    for (const PackageFeature& feature : package.Features()) {
        levels[feature.key] = feature.level;
        parents[feature.key] = feature.parent;
    }
    for (const FeatureCondition& condition : package.FeatureConditions()) {
        if (levels.count(condition.feature) != 0 &&
            ConditionHolds(condition.condition, properties)) {
            levels[condition.feature] = condition.level;
        }
    }

    Selection selection;
    for (const auto& [key, level] : levels) {
        ItemState& state = selection.features[key];
        state.installed = installedFeatures.count(key) != 0 ? kStateLocal : kStateAbsent;
        const bool disabled = level <= 0;
        bool wanted = state.installed == kStateLocal;
        if (byLevel) {
            wanted = !disabled && level <= installLevel;
        } else if (add.count(key) != 0 && !disabled) {
            wanted = true;
        }
        if (remove.count(key) != 0) {
            wanted = false;
        }
        if (wanted != (state.installed == kStateLocal)) {
            state.action = wanted ? kStateLocal : kStateAbsent;
        }
    }
    // A feature added makes its parents come too; one removed takes its children.
    for (auto& [key, state] : selection.features) {
        if (state.action != kStateLocal) {
            continue;
        }
        for (std::string parent = parents[key]; !parent.empty() && selection.features.count(parent);
             parent = parents[parent]) {
            ItemState& above = selection.features[parent];
            if (!above.Ends()) {
                above.action = kStateLocal;
            }
        }
    }
    for (auto& [key, state] : selection.features) {
        for (std::string parent = parents[key]; !parent.empty() && selection.features.count(parent);
             parent = parents[parent]) {
            if (!selection.features[parent].Ends() && state.Ends()) {
                state.action = state.installed == kStateLocal ? kStateAbsent : kStateUnknown;
                break;
            }
        }
    }

    std::set<std::string> kept;
    for (const auto& [feature, component] : package.FeatureComponents()) {
        const auto found = selection.features.find(feature);
        if (found != selection.features.end() && found->second.Ends()) {
            kept.insert(component);
        }
    }
    for (const auto& [key, component] : package.Components()) {
        ItemState& state = selection.components[key];
        state.installed = installedComponents.count(key) != 0 ? kStateLocal : kStateAbsent;
        bool wanted = kept.count(key) != 0;
        // A component's condition decides whether it comes, not whether it stays.
        if (wanted && state.installed != kStateLocal) {
            wanted = ConditionHolds(component.condition, properties);
        }
        if (wanted != (state.installed == kStateLocal)) {
            state.action = wanted ? kStateLocal : kStateAbsent;
        }
    }
    return selection;
}

}  // namespace stubframework::platform::msi::detail
