#pragma once

// Views that record what the workers report, for the acquisition tests.

#include "worker/AutoPortWorkerView.h"
#include "worker/DataLine.h"
#include "worker/WeightWorkerView.h"

#include <QCoreApplication>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QThread>
#include <atomic>
#include <optional>
#include <ostream>

// Readable QStrings in failure messages.
inline std::ostream& operator<<(std::ostream& out, const QString& text) {
    return out << text.toStdString();
}

namespace tavlo::test {

// One event-log line with its style.
struct LogLine {
    QString text;
    bool important;
};

class RecordingWorkerView : public worker::WeightWorkerView {
public:
    void logEvent(const QString& text) override { append(text, false); }
    void logImportantEvent(const QString& text) override { append(text, true); }
    void setConnectedInGUI(bool connected) override {
        offGui |= !onGuiThread();
        connectedStates.append(connected);
    }
    void update(const worker::DataLine& line) override {
        offGui |= !onGuiThread();
        lines.append(line);
    }

    QList<LogLine> log() const {
        QMutexLocker lock(&m_mutex);
        return m_log;
    }
    QStringList texts() const {
        QStringList out;
        for (const LogLine& l : log())
            out.append(l.text);
        return out;
    }
    // Lines that start with prefix.
    QList<LogLine> linesStartingWith(const QString& prefix) const {
        QList<LogLine> out;
        for (const LogLine& l : log())
            if (l.text.startsWith(prefix))
                out.append(l);
        return out;
    }
    bool disconnected() const { return !connectedStates.isEmpty() && !connectedStates.last(); }

    // GUI-thread parts.
    QList<worker::DataLine> lines;
    QList<bool> connectedStates;
    bool offGui = false;

private:
    static bool onGuiThread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }
    void append(const QString& text, bool important) {
        QMutexLocker lock(&m_mutex);
        m_log.append(LogLine{text, important});
    }

    mutable QMutex m_mutex;
    QList<LogLine> m_log;
};

class RecordingAutoPortView : public worker::AutoPortWorkerView {
public:
    struct Line {
        QString text;
        std::optional<worker::TextAttributes> attributes;
    };
    void setButtonToCancel() override { buttons.append(QStringLiteral("Cancel")); }
    void setButtonToClose() override { buttons.append(QStringLiteral("Close")); }
    void setPort(const QString& name) override { ports.append(name); }
    void update(const QString& text, std::optional<worker::TextAttributes> attributes) override {
        lines.append(Line{text, attributes});
    }
    QStringList texts() const {
        QStringList out;
        for (const Line& l : lines)
            out.append(l.text);
        return out;
    }

    QStringList buttons;
    QStringList ports;
    QList<Line> lines;
};

} // namespace tavlo::test
