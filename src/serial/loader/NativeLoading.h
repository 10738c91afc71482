#pragma once

// Where and in which order the native serial library is looked for, over the system's loader. Plain C++: the
// program and the Windows test programs share it.
#include <stdexcept>
#include <string>
#include <vector>

namespace serial::loader {

struct LoadedLibrary {
    void* handle = nullptr;
    // The file or name that was loaded.
    std::string origin;
};

// The library could not be loaded; what() is the text the program shows.
class LoadFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// By base name ("tspWin"): the system's file name for it on the system's library search path, then in each of
// `folders` (where the caller knows the program's libraries to be).
LoadedLibrary loadByName(const std::string& baseName, const std::vector<std::string>& folders = {});

// One file; `shownName` names it in the failure text.
LoadedLibrary loadFile(const std::string& path, const std::string& shownName);

// The file "<home>\<baseName>.dll", then the library by name, which the system then finds among the loaded
// modules. Older Windows versions do not always search the program's folder; users put the library in their
// home folder instead.
LoadedLibrary loadFromUserFolder(const std::string& baseName, const std::string& home,
                                 const std::vector<std::string>& folders = {});

// The file loadFromUserFolder tries first.
std::string userFolderFile(const std::string& baseName, const std::string& home);

} // namespace serial::loader
