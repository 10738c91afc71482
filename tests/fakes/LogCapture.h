#pragma once

// Collects the messages of Qt's logging while it lives (thread-safe), for tests of diagnostic lines.

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

namespace tavlo::test {

class LogCapture {
public:
    LogCapture() {
        instance() = this;
        m_previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() {
        qInstallMessageHandler(m_previous);
        instance() = nullptr;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList messages() const {
        QMutexLocker lock(&m_mutex);
        return m_messages;
    }
    bool contains(const QString& message) const { return messages().contains(message); }

private:
    static LogCapture*& instance() {
        static LogCapture* current = nullptr;
        return current;
    }
    static void handle(QtMsgType, const QMessageLogContext&, const QString& message) {
        if (LogCapture* self = instance()) {
            QMutexLocker lock(&self->m_mutex);
            self->m_messages.append(message);
        }
    }

    mutable QMutex m_mutex;
    QStringList m_messages;
    QtMessageHandler m_previous = nullptr;
};

} // namespace tavlo::test
