#pragma once

#include "worker/AcquisitionView.h"
#include "worker/DataLine.h"

#include <functional>
#include <memory>

namespace tavlo::config {
class Config;
}
namespace tavlo::platform {
class KeyboardDevice;
class MidiSynth;
} // namespace tavlo::platform

namespace tavlo::worker {

class DataLog;
class Ignorer;
class Keybot;
class SoundBot;
class WeightWorker;

// The one start-up path of a run, shared by the window and the headless mode: Start builds the keyboard
// output, the sound and the duplicate filter, creates the worker that fits the instrument (which opens the
// port) and starts it; every record the worker delivers goes through update(); Stop ends it all. The
// desktop devices come from factories, so that the caller chooses the backends (or a printing device).
// Used on the GUI thread.
class Acquisition {
public:
    using KeyboardFactory = std::function<std::unique_ptr<platform::KeyboardDevice>(const QString& keyboardType)>;
    using SynthFactory = std::function<std::unique_ptr<platform::MidiSynth>()>;
    // Advice for the user on a port that could not be opened (empty: none), shown below the failure.
    using PortFailureHint = std::function<QString(const QString& port)>;

    Acquisition(AcquisitionView& view, KeyboardFactory keyboards, SynthFactory synths);
    ~Acquisition();
    Acquisition(const Acquisition&) = delete;
    Acquisition& operator=(const Acquisition&) = delete;

    // The Start sequence. False when the worker could not be created, or the keyboard output could not be
    // started while it is required: the message was shown and nothing that this call created keeps running.
    bool start(const config::Config& config);
    // Cancels the worker (it closes the port and reports the disconnected state when its body has ended),
    // ends the keyboard thread after the value it is typing, closes the sound and drops the duplicate filter.
    void stop();
    // stop(), then waits until the worker's body has ended and its completion (port closed, idle state
    // reported) has run on this thread, for at most completionMs of event processing. Before the program ends.
    void stopAndWait(int completionMs = 5000);
    bool isRunning() const;

    void setPortFailureHint(PortFailureHint hint) { m_portFailureHint = std::move(hint); }
    // When set, a run whose keyboard output cannot be started does not start at all (start() returns false
    // after the message); otherwise it starts without typing, so that values are still seen.
    void setKeyboardRequired(bool required) { m_keyboardRequired = required; }

    // The per-record steps, for the view's update(): duplicate filter, sound, the event-log line, the line
    // count and the hand-over to the keyboard output. True when a value went to the keyboard output.
    bool update(DataLine line);

    // The status line: the record count, or the typing backlog while typing lags behind. Called per record, and
    // by the view when a value was typed.
    void refreshStatus();

    // Sends the instrument's request text through the running worker; false when there is none to send.
    bool sendRequest();

    // The styled event-log line of a record: the value's span of the raw record shown as typed.
    static QList<LogSpan> logLine(const DataLine& line);

    std::shared_ptr<WeightWorker> worker() const { return m_worker; }
    std::shared_ptr<Keybot> keybot() const { return m_keybot; }
    std::shared_ptr<DataLog> dataLog() const { return m_dataLog; }

private:
    void shutDownOutputs();
    // The data-log line of a record that reached update().
    void logData(const DataLine& line, const QString& value, int outcome);

    AcquisitionView& m_view;
    KeyboardFactory m_keyboards;
    SynthFactory m_synths;
    PortFailureHint m_portFailureHint;
    std::shared_ptr<WeightWorker> m_worker;
    std::shared_ptr<Keybot> m_keybot;
    std::unique_ptr<SoundBot> m_soundBot;
    std::unique_ptr<Ignorer> m_ignorer;
    std::shared_ptr<DataLog> m_dataLog;
    bool m_keyboardRequired = false;
    int m_lineCount = 0;
};

// The time stamp of event-log lines, "HH:MM:SS ".
QString logTimeStamp(const QDateTime& time);

} // namespace tavlo::worker
