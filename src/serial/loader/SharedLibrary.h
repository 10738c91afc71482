#pragma once

// The system's dynamic loader, one implementation file per operating system (chosen by the build), in plain
// C++ so that the Windows test programs use the same code as the program.
#include <string>

namespace serial::loader {

// The file name the system gives a library's base name: "tspWin.dll" on Windows, "libtspWin.so" elsewhere.
std::string libraryFileName(const std::string& baseName);

// Loads a library from a file name (searched on the system's library search path) or a path, both UTF-8.
// nullptr on failure, with the system's reason in `reason`.
void* openLibrary(const std::string& file, std::string& reason);

// The address of an exported entry point, nullptr when the library lacks it.
void* findEntryPoint(void* handle, const char* name);

void closeLibrary(void* handle);

// A file in a folder, joined with the system's separator.
std::string inFolder(const std::string& folder, const std::string& file);

} // namespace serial::loader
