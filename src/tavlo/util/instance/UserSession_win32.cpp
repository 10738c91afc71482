#include "tavlo/util/instance/UserSession.h"

#include <QDir>
#include <QFileInfo>

// Qt looks up NTFS owners only while this counter is above zero.
extern Q_CORE_EXPORT int qt_ntfs_permission_lookup;

namespace tavlo::util {

QString privateFolder(QString* error) {
    // The local application data folder belongs to the user; its permissions keep other users out.
    const QString local = qEnvironmentVariable("LOCALAPPDATA");
    if (local.isEmpty()) {
        if (error)
            *error = QStringLiteral("LOCALAPPDATA is not set");
        return QString();
    }
    const QString folder = QDir::fromNativeSeparators(local) + QStringLiteral("/Corvane/Tavlo");
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("%1 cannot be created").arg(folder);
        return QString();
    }
    return folder;
}

QString localSocketName(const QString&, const QString& base) {
    // A named pipe: one name space for the whole computer, so the user's name is part of it; the pipe's own
    // permissions (QLocalServer::UserAccessOption) keep other users out.
    return base + u'-' + currentUserName();
}

QString currentUserName() {
    return qEnvironmentVariable("USERNAME");
}

QString fileOwner(const QString& path) {
    ++qt_ntfs_permission_lookup;
    const QString owner = QFileInfo(path).owner();
    --qt_ntfs_permission_lookup;
    return owner;
}

} // namespace tavlo::util
