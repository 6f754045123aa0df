#include <windows.h>

#include "LibraryLoader.h"

namespace Tavo::Host::Library {

const char* const kSuffix = ".dll";

namespace {

std::string SystemMessage(DWORD code) {
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(code) : message;
}

}  // namespace

void* Open(const std::string& path, std::string& error) {
    // A name without a directory would make LoadLibrary search the system
    // folders and PATH; name the current directory instead. The altered
    // search path lets the library's own imports come from its folder.
    const bool hasDirectory = path.find_first_of("\\/") != std::string::npos;
    const std::string openPath = hasDirectory ? path : ".\\" + path;
    HMODULE library = LoadLibraryExA(openPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) {
        error = SystemMessage(GetLastError());
    }
    return library;
}

void* Find(void* library, const char* name) {
    if (library == nullptr) {
        return nullptr;
    }
    // An export is a plain function address; the caller gives it its type.
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void Close(void*) {
    // Kept mapped until the process ends (see the header): the plugin's
    // static destructors then run at process exit, after the host is done.
}

}  // namespace Tavo::Host::Library
