#pragma once

#include "config/Config.h"
#include "tavlo/util/CommandLine.h"
#include "worker/Acquisition.h"

#include <QMutex>
#include <QTimer>
#include <atomic>
#include <optional>

namespace tavlo::headless {

// The wedge without a window: settings from the store or an export file (never written), the event log on
// standard error, values typed through the desktop backend or printed to standard output, Stop on SIGINT or
// SIGTERM, and an end after a number of records. Runs on the GUI thread of a QCoreApplication.
class HeadlessRunner : public worker::AcquisitionView {
public:
    explicit HeadlessRunner(util::CommandLine commandLine);
    ~HeadlessRunner() override;

    // Starts, runs the event loop and returns the exit status.
    int run();

    // The event log on standard error: "HH:MM:SS text", the style in brackets unless it is "regular".
    void logEvent(const QString& text) override;
    void logImportantEvent(const QString& text) override;
    void setConnectedInGUI(bool connected) override;
    void update(const worker::DataLine& line) override;
    void showMessage(const QString& title, const QString& text, worker::MessageBoxSeam::Icon icon) override;
    void appendLog(const QList<worker::LogSpan>& spans) override;
    void setStatus(const QString&) override {}
    // The keyboard output lost its desktop: the run ends with status 1 once the port is closed.
    void keyboardLost(const QString& reason) override;

    static void writeLogLine(const QString& time, const QString& style, const QString& text);

private:
    // Fills m_config; false (with the reason on standard error) when the settings cannot be used.
    bool loadSettings();
    void recordHandled();
    bool countReached() const;
    void valueTyped();
    void checkCount();
    // Ends the run: the worker is cancelled, the values already queued are typed, then the event loop ends
    // with the status.
    void finish(int status);
    // Ends the event loop once finishing and nothing is left to type.
    void checkDrained();
    // SIGINT or SIGTERM: the first finishes the run, the second stops after the value under way.
    void onStopSignal(int signal);

    util::CommandLine m_commandLine;
    config::Config m_config;
    worker::Acquisition m_acquisition;
    int m_handled = 0;
    int m_valuesQueued = 0;
    std::atomic<int> m_valuesTyped{0};
    bool m_finishing = false;
    bool m_connected = false;
    int m_exitStatus = 0;
    QTimer m_pollTimer;
    int m_stopSignal = 0; // the second stop request's signal
    bool m_keyboardLost = false;
};

} // namespace tavlo::headless
