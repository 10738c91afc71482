#include "serial/NativeLibrary.h"

#include "serial/NativeLibraryError.h"

#include <dlfcn.h>

namespace serial {

std::unique_ptr<NativeLibrary> NativeLibrary::loadByName(const QString& baseName) {
    // dlopen is called from this program's own code, so the executable's run path ($ORIGIN) is searched.
    return load(QStringLiteral("lib") + baseName + QStringLiteral(".so"), baseName);
}

std::unique_ptr<NativeLibrary> NativeLibrary::loadFile(const QString& path) {
    return load(path, path);
}

std::unique_ptr<NativeLibrary> NativeLibrary::load(const QString& file, const QString& shownName) {
    const QByteArray name = file.toLocal8Bit();
    void* handle = ::dlopen(name.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* reason = ::dlerror();
        throw NativeLibraryError(QStringLiteral("Native library ") + shownName + QStringLiteral(" not loaded: ") +
                                 QString::fromLocal8Bit(reason ? reason : "unknown reason"));
    }
    auto library = std::make_unique<NativeLibrary>();
    library->m_handle = handle;
    library->m_origin = file;
#define TAVLO_TSP_RESOLVE(entry)                                                                                       \
    library->entry = reinterpret_cast<decltype(library->entry)>(::dlsym(handle, #entry));                              \
    if (!library->entry) {                                                                                             \
        ::dlclose(handle);                                                                                             \
        throw NativeLibraryError(QStringLiteral("Native library ") + shownName +                                       \
                                 QStringLiteral(" lacks the entry point " #entry));                                    \
    }
    TAVLO_TSP_ENTRY_POINTS(TAVLO_TSP_RESOLVE)
#undef TAVLO_TSP_RESOLVE
    return library;
}

} // namespace serial
