#pragma once
// Opening a dynamic library and finding one of its exports: dlopen/dlsym on
// POSIX, LoadLibrary/GetProcAddress on Windows (one implementation file per
// system, chosen by the build). Libraries opened here stay mapped until the
// process ends, as a plugin manager keeps its plugins.
//
// Threading: any thread; each handle is used by one thread at a time.

#include <string>

namespace Tavo::Host::Library {

// The file name suffix of a plugin library on this system: ".so" or ".dll".
extern const char* const kSuffix;

// Opens the library at `path` (a name without a directory is taken from the
// current directory, never from a search path). Null with `error` set when
// it cannot be opened.
void* Open(const std::string& path, std::string& error);

// The address of the export `name` of `library`; null when it has none.
void* Find(void* library, const char* name);

// Releases a handle from Open (null is ignored).
void Close(void* library);

}  // namespace Tavo::Host::Library
