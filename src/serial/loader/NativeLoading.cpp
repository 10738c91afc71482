#include "serial/loader/NativeLoading.h"

#include "serial/loader/SharedLibrary.h"

namespace serial::loader {

namespace {

std::string notLoaded(const std::string& shownName, const std::string& reason) {
    return "Native library " + shownName + " not loaded: " + reason;
}

} // namespace

LoadedLibrary loadFile(const std::string& path, const std::string& shownName) {
    std::string reason;
    void* handle = openLibrary(path, reason);
    if (!handle)
        throw LoadFailure(notLoaded(shownName, reason));
    return LoadedLibrary{handle, path};
}

LoadedLibrary loadByName(const std::string& baseName, const std::vector<std::string>& folders) {
    const std::string file = libraryFileName(baseName);
    std::string reason;
    if (void* handle = openLibrary(file, reason))
        return LoadedLibrary{handle, file};
    // The first reason is the one worth showing: it names the search the user expects.
    for (const std::string& folder : folders) {
        if (folder.empty())
            continue;
        const std::string path = inFolder(folder, file);
        std::string ignored;
        if (void* handle = openLibrary(path, ignored))
            return LoadedLibrary{handle, path};
    }
    throw LoadFailure(notLoaded(baseName, reason));
}

std::string userFolderFile(const std::string& baseName, const std::string& home) {
    return home + "\\" + baseName + ".dll";
}

LoadedLibrary loadFromUserFolder(const std::string& baseName, const std::string& home,
                                 const std::vector<std::string>& folders) {
    const std::string path = userFolderFile(baseName, home);
    const LoadedLibrary file = loadFile(path, path);
    try {
        LoadedLibrary named = loadByName(baseName, folders);
        // The file's own reference is not needed once the name holds the library.
        closeLibrary(file.handle);
        return named;
    } catch (const LoadFailure&) {
        closeLibrary(file.handle);
        throw;
    }
}

} // namespace serial::loader
