#pragma once

#include "worker/AutoPortWorkerView.h"
#include "worker/BackgroundTask.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace serial {
class SerialPortLocal;
}

namespace tavlo::worker {

// Finds the port of an attached instrument: opens each listed port in turn, works its DTR and RTS lines and
// scores how its DSR and CTS lines answer. The port with the highest score (the earlier one of equals) is
// the result; none when no port answered at all. Progress lines and the result go to the view.
class AutoPortWorker : public BackgroundTask<std::optional<QString>, QString> {
public:
    // Milliseconds to wait after changing the lines before reading them.
    static constexpr int PAUSE = 150;

    AutoPortWorker(AutoPortWorkerView& view, QStringList ports);
    ~AutoPortWorker() override;

    // The style of the line naming the detected port, and of the line saying that none was found.
    static TextAttributes successStyle() { return TextAttributes{true, false}; }
    static TextAttributes failureStyle() { return TextAttributes{true, true}; }

protected:
    std::optional<QString> doInBackground() override;
    void process(const QList<QString>& chunks) override;
    void done() override;

private:
    // Scores one open port into m_currentPortConfidence; false when a wait was interrupted.
    bool probe(const QString& name);
    void closePort();

    AutoPortWorkerView& m_view;
    const QStringList m_ports;
    std::unique_ptr<serial::SerialPortLocal> m_sp;
    std::optional<QString> m_bestPortName;
    int m_bestPortConfidence = 0;
    int m_currentPortConfidence = 0;
};

} // namespace tavlo::worker
