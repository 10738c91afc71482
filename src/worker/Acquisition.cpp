#include "worker/Acquisition.h"

#include "base/ResourceBundle.h"
#include "base/SystemProperties.h"
#include "config/Config.h"
#include "config/Instrument.h"
#include "platform/KeyboardDevice.h"
#include "platform/MidiSynth.h"
#include "serial/SerialIoError.h"
#include "worker/ControlCharacters.h"
#include "worker/Ignorer.h"
#include "worker/Keybot.h"
#include "worker/SoundBot.h"
#include "worker/WeightWorker.h"
#include "worker/WeightWorkerFactory.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostInfo>
#include <QPointer>
#include <QUuid>

namespace tavlo::worker {

using H = config::ConfigHelper;
using Icon = MessageBoxSeam::Icon;

namespace {

const base::ResourceBundle& texts() {
    return base::ResourceBundle::getBundle(QStringLiteral("tavlo.Tavlo"));
}

QString text(const char* key) {
    return texts().getString(QLatin1String(key));
}

QString failureMessage(const std::exception& failure) {
    if (const auto* own = dynamic_cast<const base::TavloException*>(&failure))
        return own->message();
    return QString::fromUtf8(failure.what());
}

} // namespace

// Stands between the worker and the view: everything goes on to the view, and the worker's status events come
// back to the run that started it, as long as that run is going on. Kept alive by the worker.
class Acquisition::WorkerView : public WeightWorkerView {
public:
    WorkerView(Acquisition* owner, AcquisitionView& view) : m_owner(owner), m_view(view) {}
    void logEvent(const QString& text) override { m_view.logEvent(text); }
    void logImportantEvent(const QString& text) override { m_view.logImportantEvent(text); }
    void setConnectedInGUI(bool connected) override {
        m_view.setConnectedInGUI(connected);
        // The worker has ended (its completion runs on the GUI thread): no reading follows. The run lets go of
        // this object there, which must outlive the call.
        if (!connected && m_owner) {
            const std::shared_ptr<WorkerView> keep = m_self.lock();
            m_owner->endRun();
        }
    }
    void update(const DataLine& line) override { m_view.update(line); }
    void statusChanged(StatusEvent::Kind kind, const QString& text) override {
        const Instant time = instantNow();
        if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
            deliver(kind, text, time);
            return;
        }
        std::weak_ptr<WorkerView> self = m_self;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, kind, text, time] {
                if (const auto view = self.lock())
                    view->deliver(kind, text, time);
            },
            Qt::QueuedConnection);
    }
    // GUI thread only.
    void detach() { m_owner = nullptr; }
    void setSelf(const std::shared_ptr<WorkerView>& self) { m_self = self; }

private:
    void deliver(StatusEvent::Kind kind, const QString& text, Instant time) {
        if (m_owner)
            m_owner->publishStatus(kind, text, time);
    }

    Acquisition* m_owner;
    AcquisitionView& m_view;
    std::weak_ptr<WorkerView> m_self;
};

QString logTimeStamp(const QDateTime& time) {
    return time.toString(QStringLiteral("HH:mm:ss "));
}

Acquisition::Acquisition(AcquisitionView& view, KeyboardFactory keyboards, SynthFactory synths)
    : m_view(view), m_keyboards(std::move(keyboards)), m_synths(std::move(synths)),
      m_alive(std::make_shared<Acquisition*>(this)) {}

Acquisition::~Acquisition() {
    *m_alive = nullptr;
    stop();
}

CommandSink Acquisition::commandSink() {
    std::weak_ptr<Acquisition*> alive = m_alive;
    return [alive](config::InstrumentCommand command, CommandDone done) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [alive, command, done = std::move(done)] {
                const auto owner = alive.lock();
                QString reason = QStringLiteral("The program is closing.");
                const bool ok = owner && *owner && (*owner)->sendCommand(command, &reason);
                if (done)
                    done(ok, ok ? QString() : reason);
            },
            Qt::QueuedConnection);
    };
}

bool Acquisition::start(const config::Config& config) {
    stop();
    // The replacement of control characters is typed like any value: a text the key map cannot type would
    // only be reported and skipped in every value.
    if (const QString problem = replacementProblem(config); !problem.isEmpty()) {
        m_view.showMessage(text("invalid.setting"), problem, Icon::Error);
        return false;
    }
    const H::Instrument* instrument = config.getInstrument() ? config.getInstrument() : H::Instrument::getDefault();
    const H::KeyboardType* keyboardType =
        config.getKeyboardType() ? config.getKeyboardType() : H::KeyboardType::getDefault();

    m_typing = config.typeValues;
    m_runId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_station = stationName(config);
    m_port = config.getPort();
    m_instrument = QString::fromLatin1(instrument->nameLatin1());
    m_lastReading.reset();

    // Keyboard output; without it the run still starts, so that values are seen in the event log. A run that
    // only logs and serves readings has none.
    QString layoutNote;
    if (m_typing)
        try {
            if (!m_keyboards)
                throw platform::KeyboardError("no keyboard backend");
            std::unique_ptr<platform::KeyboardDevice> device = m_keyboards(keyboardType->name());
            if (device)
                layoutNote = QString::fromStdString(device->layoutNote());
            m_keybot = std::make_shared<Keybot>(config.getDelayAsInt(), H::StartWith::getKeyCode(config.getStartWith()),
                                                H::OutputTerminator::getKeyCode(config.getOutputTerminator()),
                                                H::OutputTerminator::getKeyCode(config.getOutputTerminator2()),
                                                config.getEveryXValuesAsInt(), keyboardType,
                                                instrument->getKeyMapType(), &m_view, std::move(device));
        } catch (const std::exception& failure) {
            m_keybot.reset();
            m_view.showMessage(text("error"), text("error.initializing.keyboard.output") + failureMessage(failure),
                               Icon::Error);
        }
    if (!m_keybot && m_keyboardRequired) {
        // Without a keyboard output such a run would have no output at all: the port is not even opened.
        shutDownOutputs();
        return false;
    }
    if (m_keybot && m_keybot->isCapsLockOn())
        m_view.showMessage(text("warning"), text("please.turn.off.caps.lock"), Icon::Warning);

    if (config.getSound() && config.getSound() != &H::Sound::NONE) {
        try {
            if (!m_synths)
                throw platform::MidiError("no synthesiser");
            m_soundBot = std::make_unique<SoundBot>(config.getSound()->getPercussionNumber(), m_synths());
        } catch (const std::exception& failure) {
            m_soundBot.reset();
            m_view.showMessage(text("sound.output.error"),
                               text("error.while.initializing.sound.output") + failureMessage(failure), Icon::Error);
        }
    }
    if (config.ignoreDuplicates)
        m_ignorer = std::make_unique<Ignorer>(config);
    if (m_outputFactory) {
        try {
            m_outputs = m_outputFactory(config, m_view, commandSink());
        } catch (const std::exception& failure) {
            shutDownOutputs();
            m_view.showMessage(text("invalid.setting"), failureMessage(failure), Icon::Error);
            return false;
        }
    }

    m_workerView = std::make_shared<WorkerView>(this, m_view);
    m_workerView->setSelf(m_workerView);
    publishStatus(StatusEvent::Kind::Started, QStringLiteral("%1 on %2").arg(instrument->toString(), config.getPort()),
                  instantNow());
    try {
        m_worker = WeightWorkerFactory::create(*m_workerView, config);
        m_worker->keepViewAlive(m_workerView);
    } catch (const serial::SerialIoError& failure) {
        shutDownOutputs();
        QString message = failure.message();
        if (const QString hint = m_portFailureHint ? m_portFailureHint(config.getPort()) : QString(); !hint.isEmpty())
            message += u'\n' + hint;
        m_view.showMessage(text("error.opening.port"), message, Icon::Error);
        return false;
    } catch (const std::exception& failure) {
        shutDownOutputs();
        m_view.showMessage(text("invalid.setting"), failureMessage(failure), Icon::Error);
        return false;
    }

    // The keyboard output reports the values a previous run left queued itself.
    if (m_keybot)
        m_keybot->start();
    m_view.logEvent(text("VudareDiVezFrame2.deviceLabel.text") + u' ' + instrument->toString());
    if (!config.getCustomRegEx().isEmpty())
        m_view.logEvent(QStringLiteral("Custom regEx: ") + config.getCustomRegEx());
    if (m_keybot)
        m_view.logEvent(text("keyboard.output.started.type") + u' ' + keyboardType->toString());
    if (m_keybot && !layoutNote.isEmpty())
        m_view.logEvent(layoutNote);
    m_worker->execute();
    return true;
}

void Acquisition::stop() {
    if (m_worker) {
        m_worker->cancel(true);
        m_worker.reset();
    }
    shutDownOutputs();
}

void Acquisition::shutDownOutputs() {
    if (m_keybot) {
        m_keybot->interrupt();
        m_keybot.reset();
    }
    if (m_soundBot) {
        m_soundBot->close();
        m_soundBot.reset();
    }
    m_ignorer.reset();
    endRun();
}

void Acquisition::endRun() {
    if (m_workerView) {
        // The run's end reaches the outputs before they close; later events of its worker go nowhere.
        publishStatus(StatusEvent::Kind::Stopped, WeightWorker::resourceBundle().getString(QStringLiteral("stopped")),
                      instantNow());
        m_workerView->detach();
        m_workerView.reset();
    }
    // Every reading that reached update() is handed on before Stop returns.
    std::vector<std::shared_ptr<ReadingOutput>> outputs;
    outputs.swap(m_outputs);
    for (const auto& output : outputs)
        output->close();
}

void Acquisition::stopAndWait(int completionMs) {
    const std::shared_ptr<WeightWorker> running = m_worker;
    stop();
    if (!running)
        return;
    running->waitForBody();
    // The completion is queued by the worker's thread right after its body; it has run once the queued call
    // has dropped its reference. Bounded, so that a stuck event loop cannot keep the program from ending.
    QDeadlineTimer deadline(completionMs);
    while (running.use_count() > 1 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool Acquisition::isRunning() const {
    return m_worker && !m_worker->isDone();
}

bool Acquisition::update(DataLine line) {
    m_lineCount = line.getCount();
    if (line.isFailure()) {
        // The worker has logged the failure already.
        refreshStatus();
        publishReading(line, Outcome::Error, QString(), false, line.failure());
        return false;
    }
    if (line.isAcknowledgement() || line.isOverload() || line.isUnstable()) {
        // Never typed, and neither the duplicate filter nor "every X values" sees it.
        m_view.appendLog(logLine(line));
        refreshStatus();
        const Outcome outcome = line.isAcknowledgement() ? Outcome::NoValue
                                : line.isOverload()      ? Outcome::Overload
                                                         : Outcome::Unstable;
        // An overload's digits are no weight (A&D sends 9999999): outputs get no value for it, as for an
        // acknowledgement, so that no page or subscriber shows them as one.
        publishReading(line, outcome, outcome == Outcome::Unstable ? line.getProcessedData() : QString(), false);
        return false;
    }
    const QString value = line.getProcessedData();
    if (m_ignorer)
        m_ignorer->process(line);
    if (m_soundBot && line.hasValue())
        m_soundBot->beep();
    m_view.appendLog(logLine(line));
    const bool typed = m_keybot && line.hasValue();
    const Outcome outcome = value.isEmpty()    ? Outcome::NoValue
                            : !line.hasValue() ? Outcome::Duplicate
                            : m_keybot         ? Outcome::Queued
                            : m_typing         ? Outcome::Error
                                               : Outcome::Accepted;
    if (typed) {
        if (const QString notice = Keybot::add(line.getProcessedData()); !notice.isEmpty())
            m_view.logImportantEvent(notice);
    }
    refreshStatus();
    publishReading(line, outcome, value, typed,
                   outcome == Outcome::Error ? QStringLiteral("no keyboard output") : QString());
    return typed;
}

void Acquisition::publishReading(const DataLine& line, Outcome outcome, QString value, bool typed, QString error) {
    if (m_outputs.empty() && !m_readingListener)
        return;
    auto reading = std::make_shared<Reading>();
    reading->run = m_runId;
    reading->seq = line.getCount();
    reading->time = line.getInstant();
    reading->station = m_station;
    reading->port = m_port;
    reading->instrument = m_instrument;
    reading->raw = line.rawText();
    reading->value = std::move(value);
    reading->typed = typed;
    if (outcome != Outcome::Overload) {
        reading->unit = line.marks().unit;
        reading->stable = line.marks().stable;
    }
    reading->outcome = outcome;
    reading->error = std::move(error);
    std::shared_ptr<const Reading> shared = std::move(reading);
    for (const auto& output : m_outputs)
        output->deliver(shared);
    if (m_readingListener)
        m_readingListener(shared);
    m_lastReading = std::move(shared);
}

void Acquisition::publishStatus(StatusEvent::Kind kind, const QString& text, Instant time) {
    const StatusEvent event{m_runId, time, kind, text};
    for (const auto& output : m_outputs)
        output->deliverStatus(event);
    if (m_statusListener)
        m_statusListener(event);
}

QString Acquisition::stationName(const config::Config& config) {
    if (!config.station.trimmed().isEmpty())
        return config.station.trimmed();
    static const QString host = QHostInfo::localHostName();
    return host;
}

void Acquisition::refreshStatus() {
    // While typing lags behind, the backlog matters more to the user than the record count.
    if (m_keybot && Keybot::isBehind()) {
        m_view.setStatus(
            texts().format(QStringLiteral("typing.backlog.status"), {QString::number(Keybot::queuedCount())}));
        return;
    }
    static const QString lineCount = text("line.count"); // per record: looked up once
    m_view.setStatus(lineCount + QString::number(m_lineCount));
}

bool Acquisition::hasCommand(const config::Config& config, config::InstrumentCommand command, QString* reason) {
    const H::Instrument* instrument = config.getInstrument() ? config.getInstrument() : H::Instrument::getDefault();
    if (instrument->hasCommand(command))
        return true;
    if (reason)
        *reason = QStringLiteral("The instrument %1 has no %2 command.")
                      .arg(instrument->toString(), config::commandName(command));
    return false;
}

bool Acquisition::sendCommand(config::InstrumentCommand command, QString* reason) {
    if (!isRunning()) {
        if (reason)
            *reason = QStringLiteral("No instrument is being read: press Start first.");
        return false;
    }
    if (!hasCommand(m_worker->config(), command, reason))
        return false;
    const H::Instrument* instrument = m_worker->config().getInstrument();
    m_worker->requestData((instrument ? instrument : H::Instrument::getDefault())->getCommand(command));
    return true;
}

QList<LogSpan> Acquisition::logLine(const DataLine& line) {
    const QString time = logTimeStamp(line.getDateTime());
    const QString raw = line.getRawData();
    const QString& value = line.getProcessedData();
    if (line.isAcknowledgement())
        return {{time + raw + QStringLiteral(" (acknowledgement)\n"), QStringLiteral("ignored")}};
    if (line.isOverload())
        return {{time + raw + QStringLiteral(" (overload)\n"), QStringLiteral("ignored")}};
    if (line.isUnstable())
        return {{time + raw + QStringLiteral(" (unstable)\n"), QStringLiteral("ignored")}};
    if (value.isEmpty())
        return {{time + raw + u'\n', QStringLiteral("ignored")}};

    // The part of the record the value was extracted from is the typed part, however processing changed it.
    if (line.hasSpan()) {
        const QStringView record = line.rawText();
        const qsizetype start = DataLine::notationOffset(record, line.spanStart());
        const qsizetype end = DataLine::notationOffset(record, line.spanEnd());
        QList<LogSpan> spans{{time, QStringLiteral("regular")}};
        if (start > 0)
            spans.append({raw.left(start), QStringLiteral("ignored")});
        spans.append({raw.mid(start, end - start), QStringLiteral("typed")});
        spans.append({raw.mid(end) + u'\n', QStringLiteral("ignored")});
        return spans;
    }

    // Without a span the typed value is looked for in the readable record as it is, then with the separator
    // switched.
    QString shown = value;
    qsizetype at = raw.indexOf(shown);
    if (at < 0) {
        shown = QString(value).replace(u',', u'.');
        at = raw.indexOf(shown);
    }
    if (at < 0) {
        shown = QString(value).replace(u'.', u',');
        at = raw.indexOf(shown);
    }
    if (at < 0 || raw.left(at).contains(u'<'))
        return {{time + raw + u'\n', QStringLiteral("unknown")}};

    QList<LogSpan> spans{{time, QStringLiteral("regular")}};
    if (at > 0)
        spans.append({raw.left(at), QStringLiteral("ignored")});
    spans.append({raw.mid(at, shown.size()), QStringLiteral("typed")});
    spans.append({raw.mid(at + shown.size()) + u'\n', QStringLiteral("ignored")});
    return spans;
}

} // namespace tavlo::worker
