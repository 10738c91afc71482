#include "output/ReadingServiceToken.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>

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

    // Written in full under a private name and then renamed, so that a second program starting at the same
    // moment reads either no file or the whole token, and the first token made is the one both use.
    token = newToken();
    QFile temporary(folder + QStringLiteral("/.reading-service-token-") + newToken().left(12));
    const QByteArray content = token.toLatin1() + '\n';
    if (!temporary.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerOnly) ||
        temporary.write(content) != content.size() || !temporary.flush()) {
        if (error)
            *error = QStringLiteral("The reading service's token file %1 cannot be written: %2.")
                         .arg(QDir::toNativeSeparators(file), temporary.errorString());
        temporary.remove();
        return {};
    }
    temporary.close();
    if (!temporary.rename(file)) {
        temporary.remove();
        token.clear();
        if (readToken(file, &token, error, warning) != Read::Usable) {
            if (error && error->isEmpty())
                *error = QStringLiteral("The reading service's token file %1 cannot be written.")
                             .arg(QDir::toNativeSeparators(file));
            return {};
        }
    }
    return token;
}

} // namespace tavlo::output
