#pragma once

#include <QString>

namespace tavlo::util {

// The version document of the product site, fetched and read at construction. Only the elements of this
// program's edition and language are read: <version2_en>2018.1.0.1</version2_en> for the standard edition in
// English, <version2_qx_de> for the "QX" edition in German, <version2> when the language is empty.
class ReadRemoteUpdate {
public:
    struct Timeouts {
        int connectMs = 5000;
        int readMs = 5000;
    };
    // The largest document read; the real one is a few hundred bytes.
    static constexpr qint64 MAX_DOCUMENT_BYTES = 1024 * 1024;

    // One GET of the address on the calling thread (any thread; it runs a local event loop). TavloException
    // when the document cannot be read: "Timeout" when no data came for the read time-out, the network
    // layer's text otherwise, "Interrupted" when the thread was interrupted (a cancelled task).
    ReadRemoteUpdate(const QString& url, const QString& currentVersion, const QString& language,
                     const QString& edition);
    ReadRemoteUpdate(const QString& url, const QString& currentVersion, const QString& language, const QString& edition,
                     Timeouts timeouts);

    const QString& getUrlString() const { return m_urlString; }
    const QString& getContent() const { return m_content; }
    const QString& getCurrentVersion() const { return m_currentVersion; }
    const QString& getRemoteVersion() const { return m_remoteVersion; }
    const QString& getVersionTag() const { return m_versionTag; }
    const QString& getDateTag() const { return m_dateTag; }

    bool newerVersionAvailable() const { return compareVersions(m_currentVersion, m_remoteVersion); }

    // The text between <tag_language> and </tag_language> (<tag> and </tag> for an empty language), or "".
    QString findXML(const QString& tag, const QString& language) const;

    // True when remote is newer than current. Both are four decimal integers joined by "." (2018.1.0.1), or
    // remote is a decimal with one "." (2.5), then compared with current read as a decimal (2018.1). Empty,
    // equal or other texts give false.
    static bool compareVersions(const QString& current, const QString& remote);

private:
    void fetch(Timeouts timeouts);

    QString m_urlString;
    QString m_content;
    QString m_currentVersion;
    QString m_remoteVersion;
    QString m_versionTag;
    QString m_dateTag;
};

} // namespace tavlo::util
