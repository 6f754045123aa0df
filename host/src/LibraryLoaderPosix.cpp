#include <dlfcn.h>

#include "LibraryLoader.h"

namespace Tavo::Host::Library {

const char* const kSuffix = ".so";

void* Open(const std::string& path, std::string& error) {
    // RTLD_LOCAL: the plugin's symbols stay its own. RTLD_NODELETE: the
    // library stays mapped after dlclose, as a plugin manager keeps a plugin
    // for the life of its process; its static storage (the C++ runtime's
    // emergency pool, the process-wide records) then stays reachable and its
    // static destructors run at exit. A path without "/" would make dlopen
    // search the library path instead of opening the file.
    const std::string openPath = path.find('/') == std::string::npos ? "./" + path : path;
    void* library = dlopen(openPath.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (library == nullptr) {
        const char* reason = dlerror();
        error = reason != nullptr ? reason : "unknown error";
    }
    return library;
}

void* Find(void* library, const char* name) {
    dlerror();
    return library != nullptr ? dlsym(library, name) : nullptr;
}

void Close(void* library) {
    if (library != nullptr) {
        dlclose(library);
    }
}

}  // namespace Tavo::Host::Library
