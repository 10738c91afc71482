#pragma once

// Receives the addresses that QDesktopServices would hand to the browser, from any thread.
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QUrl>

namespace tavlo::test {

class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QStringList urls() const {
        QMutexLocker lock(&m_mutex);
        return m_urls;
    }

public slots:
    void handle(const QUrl& url) {
        QMutexLocker lock(&m_mutex);
        m_urls.append(url.toString());
    }

private:
    mutable QMutex m_mutex;
    QStringList m_urls;
};

} // namespace tavlo::test
