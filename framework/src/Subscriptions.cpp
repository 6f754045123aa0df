// Resource subscriptions and event dispatch: event names, patterns, counted
// subscriptions and the resource dispatcher. The templates are in
// framework/Subscriptions.h.

#include "framework/Subscriptions.h"

#include <vector>

namespace Tavo::Client {

namespace {

constexpr std::string_view kResourceEventPrefix = "OnJsonApiEvent";
// Configuration values sit deeper in the tree than other resources, so their
// events keep five path segments instead of three.
constexpr std::string_view kConfigurationSegment = "vex-platform-config";
constexpr std::size_t kEventNameParts = 4;
constexpr std::size_t kConfigurationEventNameParts = 6;

}  // namespace

std::string AppModule::EventNameForUri(std::string_view uri) {
    std::vector<std::string_view> parts{kResourceEventPrefix};
    std::size_t begin = 0;
    while (begin < uri.size()) {
        std::size_t end = uri.find('/', begin);
        if (end == std::string_view::npos) {
            end = uri.size();
        }
        if (end > begin) {
            parts.push_back(uri.substr(begin, end - begin));
        }
        begin = end + 1;
    }
    const std::size_t limit = parts.size() >= 2 && parts[1] == kConfigurationSegment
                                  ? kConfigurationEventNameParts
                                  : kEventNameParts;
    std::string name;
    for (std::size_t i = 0; i < parts.size() && i < limit; ++i) {
        if (i > 0) {
            name += '_';
        }
        name += parts[i];
    }
    return name;
}

bool AppModule::MatchResourcePattern(std::string_view pattern, std::string_view path) {
    std::size_t p = 0;
    std::size_t s = 0;
    while (p < pattern.size() && s < path.size()) {
        if (pattern[p] == '*') {
            if (path[s] == '/') {
                ++p;  // the star ends before the slash
            } else {
                ++s;
                if (s == path.size()) {
                    ++p;
                }
            }
        } else {
            if (pattern[p] != path[s]) {
                return false;
            }
            ++p;
            ++s;
        }
    }
    return p == pattern.size() && s == path.size();
}

void AppModule::Subscribe(const std::string& uri) {
    const std::string name = EventNameForUri(uri);
    std::int32_t& count = subscriptionCounts_[name];
    count += 1;
    if (count != 1) {
        return;
    }
    Trace("Subscribing to event: %s", name.c_str());
    RegisterEventHandler<PluginResourceEvent>(
        name.c_str(), [this](const PluginResourceEvent& event) { DispatchResourceEvent(event); },
        0);
}

void AppModule::Unsubscribe(const std::string& uri) {
    const std::string name = EventNameForUri(uri);
    std::int32_t& count = subscriptionCounts_[name];
    count -= 1;
    if (count != 0) {
        return;
    }
    hostUnsubscribe(name.c_str(), hostContext_);
    hostEventHandlers_.erase(name);
    Trace("Unsubscribing to event: %s", name.c_str());
}

void AppModule::DispatchResourceEvent(const PluginResourceEvent& event) {
    std::string path = event.uri;
    if (path.empty() || path.front() != '/') {
        path.insert(path.begin(), '/');
    }
    // Copies: a listener may replace or remove any entry, itself included,
    // while it runs.
    std::vector<ResourceListener> listeners;
    if (const auto exact = exactListeners_.find(path); exact != exactListeners_.end()) {
        listeners.push_back(exact->second);
    }
    for (const auto& [pattern, listener] : patternListeners_) {
        if (MatchResourcePattern(pattern, path)) {
            listeners.push_back(listener);
        }
    }
    for (const ResourceListener& listener : listeners) {
        listener(event);
    }
}

}  // namespace Tavo::Client
