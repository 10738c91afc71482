#include "output/ReadingServiceToken.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tavlo::output {

namespace {

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions kOthers = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                                             QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;

QString newToken() {
    quint32 words[8];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex());
}

enum class Read { Missing, Usable, Failed };

Read readToken(const QString& path, QString* token, QString* error, QString* warning) {
    QFile file(path);
    if (!file.exists())
        return Read::Missing;
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("The reading service's token file %1 cannot be read: %2.")
                         .arg(QDir::toNativeSeparators(path), file.errorString());
        return Read::Failed;
    }
    const QString text = QString::fromLatin1(file.read(1024)).trimmed();
    if (!ReadingServiceToken::isUsable(text)) {
        if (error)
            *error = QStringLiteral("The reading service's token file %1 holds no usable token; delete it, and "
                                    "a new one is made.")
                         .arg(QDir::toNativeSeparators(path));
        return Read::Failed;
    }
    if (file.permissions() & kOthers) {
        file.setPermissions(kOwnerOnly);
        if (warning)
            *warning = QStringLiteral("The reading service's token file %1 was readable by other users; now only "
                                      "you can read it. Delete it to make a new token if others may have seen it.")
                           .arg(QDir::toNativeSeparators(path));
    }
    *token = text;
    return Read::Usable;
}

} // namespace

QString ReadingServiceToken::path() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("Corvane/Tavlo/reading-service-token"));
}

bool ReadingServiceToken::isUsable(const QString& token) {
    if (token.size() < 16 || token.size() > 256)
        return false;
    for (const QChar c : token) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-' ||
                        u == '.' || u == '_' || u == '~';
        if (!ok)
            return false;
    }
    return true;
}

QString ReadingServiceToken::load() {
    QString token;
    return readToken(path(), &token, nullptr, nullptr) == Read::Usable ? token : QString();
}

QString ReadingServiceToken::loadOrCreate(QString* error, QString* warning) {
    const QString file = path();
    QString token;
    switch (readToken(file, &token, error, warning)) {
    case Read::Usable:
        return token;
    case Read::Failed:
        return {};
    case Read::Missing:
        break;
    }
    const QString folder = QFileInfo(file).absolutePath();
    const bool existed = QFileInfo::exists(folder);
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("The folder %1 for the reading service's token cannot be made.")
                         .arg(QDir::toNativeSeparators(folder));
        return {};
    }
    if (!existed)
        QFile::setPermissions(folder, kOwnerOnly | QFileDevice::ExeOwner);

    // Written in full and synced under a private name, then published with link(), which never replaces a file:
    // a second program starting at the same moment reads either no file or the whole token, and the first
    // token published is the one both use. (QFile::rename is no help here: when its atomic rename finds the
    // target already there it falls back to truncating the target and copying into it, so a concurrent
    // reader may see an empty file or a token that is replaced a moment later.)
    token = newToken();
    QFile temporary(folder + QStringLiteral("/.reading-service-token-") + newToken().left(12));
    const QByteArray content = token.toLatin1() + '\n';
    if (!temporary.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerOnly) ||
        temporary.write(content) != content.size() || !temporary.flush() || ::fsync(temporary.handle()) != 0) {
        if (error)
            *error = QStringLiteral("The reading service's token file %1 cannot be written: %2.")
                         .arg(QDir::toNativeSeparators(file), temporary.errorString());
        temporary.remove();
        return {};
    }
    temporary.close();
    const int linked = ::link(QFile::encodeName(temporary.fileName()).constData(), QFile::encodeName(file).constData());
    const int linkError = errno;
    temporary.remove();
    if (linked != 0) {
        token.clear();
        if (linkError != EEXIST || readToken(file, &token, error, warning) != Read::Usable) {
            if (error && error->isEmpty())
                *error = QStringLiteral("The reading service's token file %1 cannot be written: %2.")
                             .arg(QDir::toNativeSeparators(file), QString::fromLocal8Bit(std::strerror(linkError)));
            return {};
        }
        return token;
    }
    // The new name must survive a power cut as well as the content.
    if (const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return token;
}

} // namespace tavlo::output
