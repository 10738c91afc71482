#include "serial/loader/SharedLibrary.h"

#include <dlfcn.h>

namespace serial::loader {

std::string libraryFileName(const std::string& baseName) {
    return "lib" + baseName + ".so";
}

void* openLibrary(const std::string& file, std::string& reason) {
    // Called from this program's own code, so the executable's run path ($ORIGIN) is searched.
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* text = ::dlerror();
        reason = text ? text : "unknown reason";
    }
    return handle;
}

void* findEntryPoint(void* handle, const char* name) {
    return ::dlsym(handle, name);
}

void closeLibrary(void* handle) {
    ::dlclose(handle);
}

std::string inFolder(const std::string& folder, const std::string& file) {
    return folder.empty() || folder.back() == '/' ? folder + file : folder + '/' + file;
}

} // namespace serial::loader
