#pragma once

#include "config/InstrumentCommand.h"
#include "worker/AcquisitionView.h"
#include "worker/DataLine.h"
#include "worker/ReadingOutput.h"

#include <functional>
#include <memory>
#include <vector>

namespace tavlo::config {
class Config;
}
namespace tavlo::platform {
class KeyboardDevice;
class MidiSynth;
} // namespace tavlo::platform

namespace tavlo::worker {

class Ignorer;
class Keybot;
class SoundBot;
class WeightWorker;

// The one start-up path of a run, shared by the window and the headless mode: Start builds the keyboard
// output, the sound, the duplicate filter and the reading outputs, creates the worker that fits the instrument
// (which opens the port) and starts it; every record the worker delivers goes through update(), which makes
// it one reading for every output; Stop ends it all. The desktop devices and the outputs come from
// factories, so that the caller chooses the backends (or a printing device). Used on the GUI thread.
class Acquisition {
public:
    using KeyboardFactory = std::function<std::unique_ptr<platform::KeyboardDevice>(const QString& keyboardType)>;
    using SynthFactory = std::function<std::unique_ptr<platform::MidiSynth>()>;
    // Advice for the user on a port that could not be opened (empty: none), shown below the failure.
    using PortFailureHint = std::function<QString(const QString& port)>;
    // The reading outputs a run's settings ask for; called at each Start.
    // The commands that the outputs receive go to the sink.
    using OutputFactory = std::function<std::vector<std::shared_ptr<ReadingOutput>>(
        const config::Config&, AcquisitionView&, const CommandSink& commands)>;
    // Told of every reading and status event on the GUI thread, across runs (the window's display).
    using ReadingListener = std::function<void(const std::shared_ptr<const Reading>&)>;
    using StatusListener = std::function<void(const StatusEvent&)>;

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
    void setOutputFactory(OutputFactory factory) { m_outputFactory = std::move(factory); }
    void setReadingListener(ReadingListener listener) { m_readingListener = std::move(listener); }
    void setStatusListener(StatusListener listener) { m_statusListener = std::move(listener); }

    // The per-record steps, for the view's update(): the profile's marks (acknowledgement, overload,
    // stability), duplicate filter, sound, the event-log line, the line count, the hand-over to the keyboard
    // output and the reading for every output. True when a value went to the keyboard output.
    bool update(DataLine line);

    // The status line: the record count, or the typing backlog while typing lags behind. Called per record, and
    // by the view when a value was typed.
    void refreshStatus();

    // Sends the instrument's command through the running worker's one request path. False, with the reason
    // for the user in *reason, when no run is going on or the profile has no such command.
    bool sendCommand(config::InstrumentCommand command, QString* reason = nullptr);
    bool sendRequest() { return sendCommand(config::InstrumentCommand::Request); }
    // Whether the profile of the settings has the command (the reason when not, as sendCommand gives it).
    static bool hasCommand(const config::Config& config, config::InstrumentCommand command, QString* reason = nullptr);

    // The id of the current (or last) run; empty before the first Start.
    const QString& runId() const { return m_runId; }
    // The last reading of the current (or last) run; null before its first.
    std::shared_ptr<const Reading> lastReading() const { return m_lastReading; }
    // The station's name in readings: the setting, else the host name.
    static QString stationName(const config::Config& config);

    // The styled event-log line of a record: the value's span of the raw record shown as typed.
    static QList<LogSpan> logLine(const DataLine& line);

    std::shared_ptr<WeightWorker> worker() const { return m_worker; }
    std::shared_ptr<Keybot> keybot() const { return m_keybot; }
    const std::vector<std::shared_ptr<ReadingOutput>>& outputs() const { return m_outputs; }

private:
    class WorkerView;
    void shutDownOutputs();
    // The run's reading outputs end: the stopped event, then each output hands on what it has and closes.
    void endRun();
    // Hands the reading to every output and the listener.
    void publishReading(const DataLine& line, Outcome outcome, QString value, bool typed, QString error = {});
    void publishStatus(StatusEvent::Kind kind, const QString& text, Instant time);
    // The sink the outputs of a run send their commands to.
    CommandSink commandSink();

    AcquisitionView& m_view;
    KeyboardFactory m_keyboards;
    SynthFactory m_synths;
    PortFailureHint m_portFailureHint;
    std::shared_ptr<WeightWorker> m_worker;
    std::shared_ptr<Keybot> m_keybot;
    std::unique_ptr<SoundBot> m_soundBot;
    std::unique_ptr<Ignorer> m_ignorer;
    OutputFactory m_outputFactory;
    std::vector<std::shared_ptr<ReadingOutput>> m_outputs;
    ReadingListener m_readingListener;
    StatusListener m_statusListener;
    // Between the worker and the view: status events of the worker come back to this run.
    std::shared_ptr<WorkerView> m_workerView;
    std::shared_ptr<const Reading> m_lastReading;
    // Null once this object is gone, for commands that arrive from other threads afterwards.
    std::shared_ptr<Acquisition*> m_alive;
    QString m_runId;
    QString m_station;
    QString m_port;
    QString m_instrument;
    bool m_typing = true;
    bool m_keyboardRequired = false;
    int m_lineCount = 0;
};

// The time stamp of event-log lines, "HH:MM:SS ".
QString logTimeStamp(const QDateTime& time);

} // namespace tavlo::worker
