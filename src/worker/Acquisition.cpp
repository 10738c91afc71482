#include "worker/Acquisition.h"

#include "base/ResourceBundle.h"
#include "base/SystemProperties.h"
#include "config/Config.h"
#include "config/Instrument.h"
#include "platform/KeyboardDevice.h"
#include "platform/MidiSynth.h"
#include "serial/SerialIoError.h"
#include "worker/DataLog.h"
#include "worker/Ignorer.h"
#include "worker/Keybot.h"
#include "worker/SoundBot.h"
#include "worker/WeightWorker.h"
#include "worker/WeightWorkerFactory.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

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

QString logTimeStamp(const QDateTime& time) {
    return time.toString(QStringLiteral("HH:mm:ss "));
}

Acquisition::Acquisition(AcquisitionView& view, KeyboardFactory keyboards, SynthFactory synths)
    : m_view(view), m_keyboards(std::move(keyboards)), m_synths(std::move(synths)) {}

Acquisition::~Acquisition() {
    stop();
}

bool Acquisition::start(const config::Config& config) {
    stop();
    const H::Instrument* instrument = config.getInstrument() ? config.getInstrument() : H::Instrument::getDefault();
    const H::KeyboardType* keyboardType =
        config.getKeyboardType() ? config.getKeyboardType() : H::KeyboardType::getDefault();

    // Keyboard output; without it the run still starts, so that values are seen in the event log.
    QString layoutNote;
    try {
        if (!m_keyboards)
            throw platform::KeyboardError("no keyboard backend");
        std::unique_ptr<platform::KeyboardDevice> device = m_keyboards(keyboardType->name());
        if (device)
            layoutNote = QString::fromStdString(device->layoutNote());
        m_keybot = std::make_shared<Keybot>(config.getDelayAsInt(), H::StartWith::getKeyCode(config.getStartWith()),
                                            H::OutputTerminator::getKeyCode(config.getOutputTerminator()),
                                            H::OutputTerminator::getKeyCode(config.getOutputTerminator2()),
                                            config.getEveryXValuesAsInt(), keyboardType, instrument->getKeyMapType(),
                                            &m_view, std::move(device));
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
    if (!config.getDataLogFile().isEmpty()) {
        // The shared installation's log is written by every user who runs the program.
        const bool shared = base::SystemProperties::get(QStringLiteral("EDITION"), QString()) == QLatin1String("QX");
        AcquisitionView* view = &m_view;
        m_dataLog = std::make_shared<DataLog>(
            config.getDataLogFile(), config.getPort(), QString::fromLatin1(instrument->nameLatin1()),
            [view](const QString& text) { view->logImportantEvent(text); }, shared);
    }

    try {
        m_worker = WeightWorkerFactory::create(m_view, config);
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
    if (m_dataLog) {
        m_view.logEvent(QStringLiteral("Data log: ") + config.getDataLogFile());
        m_worker->setDataLog(m_dataLog);
    }
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
    // Every line of a record that reached the window is written before Stop returns.
    if (m_dataLog) {
        m_dataLog->close();
        m_dataLog.reset();
    }
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
    if (line.isUnstable()) {
        // Not typed, and neither the duplicate filter nor "every X values" sees it.
        m_view.appendLog(logLine(line));
        m_lineCount = line.getCount();
        refreshStatus();
        logData(line, line.getProcessedData(), static_cast<int>(DataLog::Outcome::Unstable));
        return false;
    }
    const QString value = m_dataLog ? line.getProcessedData() : QString();
    if (m_ignorer)
        m_ignorer->process(line);
    if (m_soundBot && line.hasValue())
        m_soundBot->beep();
    m_view.appendLog(logLine(line));
    m_lineCount = line.getCount();
    if (m_dataLog) {
        using O = DataLog::Outcome;
        const O outcome = value.isEmpty()    ? O::NoValue
                          : !line.hasValue() ? O::Duplicate
                          : m_keybot         ? O::Queued
                                             : O::Error;
        logData(line, value, static_cast<int>(outcome));
    }
    if (!m_keybot || !line.hasValue()) {
        refreshStatus();
        return false;
    }
    if (const QString notice = Keybot::add(line.getProcessedData()); !notice.isEmpty())
        m_view.logImportantEvent(notice);
    refreshStatus();
    return true;
}

void Acquisition::logData(const DataLine& line, const QString& value, int outcome) {
    if (!m_dataLog)
        return;
    const auto kind = static_cast<DataLog::Outcome>(outcome);
    m_dataLog->append(
        DataLog::Entry{line.getInstant(), line.rawText(), value, kind,
                       kind == DataLog::Outcome::Error ? QStringLiteral("no keyboard output") : QString()});
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

bool Acquisition::sendRequest() {
    if (!isRunning())
        return false;
    const H::Instrument* instrument = m_worker->config().getInstrument();
    const QString command = instrument ? instrument->getDataCommand() : QString();
    if (command.isEmpty())
        return false;
    m_worker->requestData(command.toLatin1());
    return true;
}

QList<LogSpan> Acquisition::logLine(const DataLine& line) {
    const QString time = logTimeStamp(line.getDateTime());
    const QString raw = line.getRawData();
    const QString& value = line.getProcessedData();
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
