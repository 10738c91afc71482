#include "tavlo/prefs/FilePreferences.h"

#include "base/PropertiesCodec.h"
#include "tavlo/prefs/PreferencesExceptions.h"
#include "tavlo/prefs/PrefsLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMutex>
#include <QSaveFile>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

using tavlo::base::PropertiesCodec;

Q_LOGGING_CATEGORY(tavloPrefsLog, "tavlo.prefs", QtInfoMsg)

namespace tavlo::prefs {

using base::PropertiesCodec;

namespace {

bool isAccessRefusal(const std::error_code& error) {
    return error == std::errc::permission_denied || error == std::errc::operation_not_permitted ||
           error == std::errc::read_only_file_system;
}

// Qt's file errors do not carry the system's reason; repeating the step with the C library gives it. Only
// called after a failure, so that a probe that succeeds this time changes nothing that matters.
std::error_code probeOpen(const QString& file, const char* mode) {
    errno = 0;
    std::FILE* f = std::fopen(QFile::encodeName(file).constData(), mode);
    const int error = errno;
    if (f) {
        std::fclose(f);
        return {};
    }
    return {error, std::generic_category()};
}

std::error_code probeWrite(const QString& file) {
    if (QFileInfo::exists(file))
        return probeOpen(file, "r+b");
    // The file cannot be made: the folder refuses new files.
    std::error_code error = probeOpen(file, "ab");
    if (!error)
        QFile::remove(file);
    return error;
}

QString administratorHint(const QString& path) {
    return QStringLiteral(" An administrator must give your account read and write access to %1 and its folder "
                          "(the multi-user set-up in the README).")
        .arg(QDir::toNativeSeparators(path));
}

[[noreturn]] void throwFileError(const QString& what, const QString& file, const QFileDevice& device,
                                 const std::error_code& reason) {
    const QString text = what + u' ' + QDir::toNativeSeparators(file) + QStringLiteral(": ") + device.errorString();
    if (device.error() == QFileDevice::PermissionsError || isAccessRefusal(reason))
        throw AccessDeniedException(text + u'.' + administratorHint(file));
    throw BackingStoreException(text);
}

// Creates the folder and the missing ones above it; a refusal of the system is an access refusal.
void makeFolder(const QString& directory, const QString& file) {
    if (QFileInfo(directory).isDir())
        return;
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(directory).toStdString()), error);
    if (!error)
        return;
    const QString text = QStringLiteral("Cannot create the folder ") + QDir::toNativeSeparators(directory) +
                         QStringLiteral(": ") + QString::fromLocal8Bit(error.message());
    if (isAccessRefusal(error))
        throw AccessDeniedException(text + u'.' + administratorHint(file));
    throw BackingStoreException(text);
}

} // namespace

FilePreferences::FilePreferences(FilePreferences* parent, const QString& name, const QString& file)
    : Preferences(parent, name), m_file(file), m_path(parent ? parent->m_path + name + u'.' : QString()) {
    qCDebug(tavloPrefsLog).noquote() << QStringLiteral("Instantiating node ") + name;
    try {
        syncSpi();
    } catch (const AccessDeniedException&) {
        throw; // the user must learn that the settings cannot be read
    } catch (const BackingStoreException& e) {
        qCWarning(tavloPrefsLog).noquote() << QStringLiteral("Unable to sync on creation of node ") + name;
        qCWarning(tavloPrefsLog).noquote() << QStringLiteral("  ") + e.message();
    }
}

std::unique_ptr<FilePreferences> FilePreferences::createRoot(const QString& filePath) {
    return std::unique_ptr<FilePreferences>(new FilePreferences(nullptr, QString(), filePath));
}

QMutex& FilePreferences::fileLock() {
    static QMutex lock;
    return lock;
}

void FilePreferences::checkKey(const QString& key) const {
    // A "." would make the key read back as a child node's entry.
    if (key.contains(u'.'))
        throw base::IllegalArgumentException(QStringLiteral("The settings file does not accept '.' in a key: ") + key);
}

void FilePreferences::checkName(const QString& name) const {
    if (name.contains(u'.'))
        throw base::IllegalArgumentException(QStringLiteral("The settings file does not accept '.' in a node name: ") +
                                             name);
}

std::optional<QString> FilePreferences::getSpi(const QString& key) {
    const auto it = m_root.constFind(key);
    if (it == m_root.constEnd())
        return std::nullopt;
    return *it;
}

void FilePreferences::putSpi(const QString& key, const QString& value) {
    m_root.insert(key, value);
    try {
        flushSpi();
    } catch (const AccessDeniedException&) {
        throw; // the change would be lost at exit without a word
    } catch (const BackingStoreException& e) {
        // The value stays in memory; the next successful flush writes it.
        qCWarning(tavloPrefsLog).noquote() << QStringLiteral("Unable to flush after putting ") + key;
        qCWarning(tavloPrefsLog).noquote() << QStringLiteral("  ") + e.message();
    }
}

void FilePreferences::removeSpi(const QString& key) {
    m_root.remove(key);
    try {
        flushSpi();
    } catch (const AccessDeniedException&) {
        throw; // the change would be lost at exit without a word
    } catch (const BackingStoreException& e) {
        qCWarning(tavloPrefsLog).noquote() << QStringLiteral("Unable to flush after removing ") + key;
        qCWarning(tavloPrefsLog).noquote() << QStringLiteral("  ") + e.message();
    }
}

QStringList FilePreferences::keysSpi() {
    return m_root.keys();
}

QStringList FilePreferences::childrenNamesSpi() {
    return QStringList(m_fileChildren.begin(), m_fileChildren.end());
}

std::unique_ptr<Preferences> FilePreferences::childSpi(const QString& name) {
    return std::unique_ptr<Preferences>(new FilePreferences(this, name, m_file));
}

void FilePreferences::removeNodeSpi() {
    m_root.clear();
    flushSpi();
    if (auto* p = static_cast<FilePreferences*>(parent()))
        p->m_fileChildren.remove(name());
}

bool FilePreferences::ownsFileKey(const QString& fileKey) const {
    return fileKey.startsWith(m_path) && !QStringView(fileKey).mid(m_path.size()).contains(u'.');
}

QMap<QString, QString> FilePreferences::loadFile() const {
    QMap<QString, QString> entries;
    QFile file(m_file);
    if (!file.exists())
        return entries;
    if (!file.open(QIODevice::ReadOnly))
        throwFileError(QStringLiteral("Cannot read the settings file"), m_file, file, probeOpen(m_file, "rb"));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throwFileError(QStringLiteral("Cannot read the settings file"), m_file, file, probeOpen(m_file, "rb"));
    for (const PropertiesCodec::Entry& e : PropertiesCodec::read(bytes, PropertiesCodec::Encoding::Latin1))
        entries.insert(e.key, e.value);
    return entries;
}

void FilePreferences::writeFile(const QMap<QString, QString>& entries) const {
    const QString directory = QFileInfo(m_file).absolutePath();
    makeFolder(directory, m_file);

    QList<PropertiesCodec::Entry> lines;
    lines.reserve(entries.size());
    for (auto it = entries.constBegin(); it != entries.constEnd(); ++it)
        lines.append({it.key(), it.value()});
    const QString time =
        QLocale::c().toString(QDateTime::currentDateTime(), QStringLiteral("ddd MMM dd HH:mm:ss t yyyy"));
    QByteArray bytes = "#FilePreferences\n#" + time.toLatin1() + '\n';
    bytes += PropertiesCodec::write(lines, PropertiesCodec::Encoding::Latin1);

    // The new text goes to a temporary file that replaces the old one only when complete. Where the folder
    // does not let this user create files but the file itself is writable (a shared file set up by an
    // administrator), the file is written in place instead.
    QSaveFile out(m_file);
    out.setDirectWriteFallback(true);
    const QString what = QStringLiteral("Cannot write the settings file");
    if (!out.open(QIODevice::WriteOnly))
        throwFileError(what, m_file, out, probeWrite(m_file));
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        throwFileError(what, m_file, out, probeWrite(m_file));
    }
    if (!out.commit())
        throwFileError(what, m_file, out, probeWrite(m_file));
}

void FilePreferences::syncSpi() {
    if (isRemoved())
        return;
    QMutexLocker lock(&fileLock());
    const QMap<QString, QString> entries = loadFile();
    for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
        if (!it.key().startsWith(m_path))
            continue;
        const QString rest = it.key().mid(m_path.size());
        const qsizetype dot = rest.indexOf(u'.');
        if (dot < 0)
            m_root.insert(rest, it.value());
        else if (dot > 0)
            m_fileChildren.insert(rest.left(dot));
    }
}

void FilePreferences::flushSpi() {
    QMutexLocker lock(&fileLock());
    QMap<QString, QString> entries = loadFile();
    for (auto it = entries.begin(); it != entries.end();) {
        if (ownsFileKey(it.key()))
            it = entries.erase(it);
        else
            ++it;
    }
    if (!isRemoved()) {
        for (auto it = m_root.constBegin(); it != m_root.constEnd(); ++it)
            entries.insert(m_path + it.key(), it.value());
    }
    writeFile(entries);
}

} // namespace tavlo::prefs
