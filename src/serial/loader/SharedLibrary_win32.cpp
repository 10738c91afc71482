#include "serial/loader/SharedLibrary.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace serial::loader {

namespace {

std::wstring wide(const std::string& utf8) {
    if (utf8.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string utf8(const wchar_t* text, size_t length) {
    if (length == 0)
        return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
    return out;
}

// The system's own text for an error code, without its trailing line break, followed by the code.
std::string systemMessage(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = buffer ? utf8(buffer, length) : std::string();
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    if (text.empty())
        text = "system error";
    return text + " (" + std::to_string(code) + ")";
}

} // namespace

std::string libraryFileName(const std::string& baseName) {
    return baseName + ".dll";
}

void* openLibrary(const std::string& file, std::string& reason) {
    // No error box for a missing or damaged file: the caller reports the failure itself.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // The loader documents only backslashes as separators; Qt gives folders with forward slashes.
    std::wstring path = wide(file);
    for (wchar_t& c : path)
        c = c == L'/' ? L'\\' : c;
    HMODULE module = LoadLibraryW(path.c_str());
    const DWORD code = module ? 0 : GetLastError();
    SetErrorMode(previous);
    if (!module)
        reason = systemMessage(code);
    return reinterpret_cast<void*>(module);
}

void* findEntryPoint(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void closeLibrary(void* handle) {
    FreeLibrary(static_cast<HMODULE>(handle));
}

std::string inFolder(const std::string& folder, const std::string& file) {
    // The loader takes only backslashes as separators.
    return folder.empty() || folder.back() == '\\' || folder.back() == '/' ? folder + file : folder + '\\' + file;
}

} // namespace serial::loader
