#include "serial/NativeLibrary.h"

#include "serial/NativeLibraryError.h"

#include <QFileInfo>
#include <dlfcn.h>

namespace serial {

std::unique_ptr<NativeLibrary> NativeLibrary::loadByName(const QString& baseName) {
    const QString file = QStringLiteral("lib") + baseName + QStringLiteral(".so");
    try {
        // dlopen is called from this program's own code, so the executable's run path ($ORIGIN) is searched.
        return load(file, baseName);
    } catch (const NativeLibraryError&) {
        // Where dlopen is wrapped (sanitizer builds), the caller's run path is not the executable's; the run path
        // points to the executable's own folder (build tree) or to the private library folder (installed).
        const QString folder = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).path();
        if (folder.isEmpty())
            throw;
        for (const QString& dir : {folder, folder + QStringLiteral("/" TAVLO_PRIVATE_LIBDIR_FROM_BINDIR)}) {
            if (QFileInfo::exists(dir + QLatin1Char('/') + file))
                return load(dir + QLatin1Char('/') + file, baseName);
        }
        throw;
    }
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
