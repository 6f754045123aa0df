#include "ResourceStore.h"

namespace Tavo::Host {

std::string EventNameForPath(std::string_view path) {
    constexpr std::string_view kPrefix = "OnJsonApiEvent";
    constexpr std::string_view kConfigRoot = "vex-platform-config";
    std::string name(kPrefix);
    std::size_t kept = 0;
    std::size_t limit = 3;
    std::size_t begin = 0;
    while (begin <= path.size() && kept < limit) {
        std::size_t end = path.find('/', begin);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        const std::string_view segment = path.substr(begin, end - begin);
        if (!segment.empty()) {
            if (kept == 0 && segment == kConfigRoot) {
                limit = 5;
            }
            name += '_';
            name += segment;
            ++kept;
        }
        begin = end + 1;
    }
    return name;
}

std::string ResourcePathOfTarget(std::string_view target) {
    const std::size_t query = target.find('?');
    if (query != std::string_view::npos) {
        target = target.substr(0, query);
    }
    std::string path;
    if (target.empty() || target.front() != '/') {
        path += '/';
    }
    path += target;
    return path;
}

const char* ResourceChangeName(ResourceChange change) {
    switch (change) {
        case ResourceChange::Create:
            return "Create";
        case ResourceChange::Update:
            return "Update";
        case ResourceChange::Delete:
            return "Delete";
    }
    return "";
}

ResourceChange ResourceStore::Set(const std::string& path, const BindingProperty& value) {
    auto it = resources_.find(path);
    if (it == resources_.end()) {
        resources_.emplace(path, value);
        return ResourceChange::Create;
    }
    it->second = value;
    return ResourceChange::Update;
}

bool ResourceStore::Delete(const std::string& path) {
    return resources_.erase(path) != 0;
}

const BindingProperty* ResourceStore::Find(const std::string& path) const {
    auto it = resources_.find(path);
    return it != resources_.end() ? &it->second : nullptr;
}

}  // namespace Tavo::Host
