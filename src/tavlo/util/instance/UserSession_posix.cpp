#include "tavlo/util/instance/UserSession.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavlo::util {

namespace {

// A directory (not a link to one) of this user that nobody else may enter; a folder of ours with wider
// permissions is narrowed.
bool isPrivateDirectory(const QString& path, bool narrow, QString* why) {
    struct stat info {};
    const QByteArray native = QFile::encodeName(path);
    if (::lstat(native.constData(), &info) != 0) {
        *why = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) {
        *why = QStringLiteral("%1 is not a folder of the user %2").arg(path, currentUserName());
        return false;
    }
    if ((info.st_mode & 077) != 0) {
        if (!narrow || ::chmod(native.constData(), 0700) != 0) {
            *why = QStringLiteral("%1 may be entered by other users").arg(path);
            return false;
        }
    }
    return true;
}

} // namespace

QString privateFolder(QString* error) {
    QString why;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && isPrivateDirectory(runtime, false, &why))
        return QDir::cleanPath(runtime);
    const QString own = QDir::tempPath() + QStringLiteral("/tavlo-") + QString::number(::geteuid());
    if (::mkdir(QFile::encodeName(own).constData(), 0700) != 0 && errno != EEXIST) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(own, QString::fromLocal8Bit(std::strerror(errno)));
        return QString();
    }
    if (!isPrivateDirectory(own, true, &why)) {
        if (error)
            *error = why;
        return QString();
    }
    return own;
}

QString localSocketName(const QString& folder, const QString& base) {
    return folder + u'/' + base + QStringLiteral(".socket");
}

QString currentUserName() {
    if (const passwd* user = ::getpwuid(::geteuid()))
        return QString::fromLocal8Bit(user->pw_name);
    return QString::number(::geteuid());
}

QString fileOwner(const QString& path) {
    return QFileInfo(path).owner();
}

} // namespace tavlo::util
