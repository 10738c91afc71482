#include "serial/NativeLibrary.h"

#include "serial/NativeLibraryError.h"
#include "serial/loader/NativeLoading.h"
#include "serial/loader/SharedLibrary.h"

#include <QFileInfo>

namespace serial {

namespace {

// Where the program's own libraries are, besides the system's search path: the executable's folder (build tree)
// and the private library folder (installed). Where the loader is wrapped (sanitizer builds), the caller's run
// path is not the executable's, so the folders are named.
std::vector<std::string> searchFolders() {
    const QString folder = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).path();
    if (folder.isEmpty() || folder == QLatin1String("."))
        return {};
    return {folder.toStdString(), (folder + QStringLiteral("/" TAVLO_PRIVATE_LIBDIR_FROM_BINDIR)).toStdString()};
}

} // namespace

std::unique_ptr<NativeLibrary> NativeLibrary::resolve(void* handle, const std::string& origin,
                                                      const QString& shownName) {
    auto library = std::make_unique<NativeLibrary>();
#define TAVLO_TSP_RESOLVE(entry)                                                                                       \
    library->entry = reinterpret_cast<decltype(library->entry)>(loader::findEntryPoint(handle, #entry));               \
    if (!library->entry) {                                                                                             \
        loader::closeLibrary(handle);                                                                                  \
        throw NativeLibraryError(QStringLiteral("Native library ") + shownName +                                       \
                                 QStringLiteral(" lacks the entry point " #entry));                                    \
    }
    TAVLO_TSP_ENTRY_POINTS(TAVLO_TSP_RESOLVE)
#undef TAVLO_TSP_RESOLVE
    library->m_handle = handle;
    library->m_origin = QString::fromStdString(origin);
    return library;
}

namespace {

template <typename Load> loader::LoadedLibrary loadWith(Load load) {
    try {
        return load();
    } catch (const loader::LoadFailure& failure) {
        throw NativeLibraryError(QString::fromStdString(failure.what()));
    }
}

} // namespace

std::unique_ptr<NativeLibrary> NativeLibrary::loadByName(const QString& baseName) {
    const loader::LoadedLibrary loaded =
        loadWith([&] { return loader::loadByName(baseName.toStdString(), searchFolders()); });
    return resolve(loaded.handle, loaded.origin, baseName);
}

std::unique_ptr<NativeLibrary> NativeLibrary::loadFile(const QString& path) {
    const loader::LoadedLibrary loaded =
        loadWith([&] { return loader::loadFile(path.toStdString(), path.toStdString()); });
    return resolve(loaded.handle, loaded.origin, path);
}

std::unique_ptr<NativeLibrary> NativeLibrary::loadFromUserFolder(const QString& baseName, const QString& home) {
    const loader::LoadedLibrary loaded = loadWith(
        [&] { return loader::loadFromUserFolder(baseName.toStdString(), home.toStdString(), searchFolders()); });
    return resolve(loaded.handle, loaded.origin, baseName);
}

} // namespace serial
