#include "tavlo/headless/HeadlessRunner.h"

#include "base/Exceptions.h"
#include "base/LogText.h"
#include "config/Instrument.h"
#include "output/Outputs.h"
#include "platform/Desktop.h"
#include "serial/SerialPortLocal.h"
#include "tavlo/headless/OutputKeyboards.h"
#include "tavlo/prefs/ConfigStore.h"
#include "tavlo/prefs/FilePreferences.h"
#include "tavlo/prefs/PreferencesExceptions.h"
#include "tavlo/util/PermissionHints.h"
#include "worker/Keybot.h"
#include "worker/MessageBoxSeam.h"
#include "worker/WeightWorker.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace tavlo::headless {

using H = config::ConfigHelper;

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int signal) {
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

QMutex& logMutex() {
    static QMutex mutex;
    return mutex;
}

QString now() {
    return worker::logTimeStamp(QDateTime::currentDateTime());
}

// Message boxes of code outside the window (the handshake warning) become log lines; nothing waits.
class StderrMessages : public worker::MessageBoxSeam {
public:
    void showMessage(const QString& title, const QString& text, Icon) override {
        HeadlessRunner::writeLogLine(now(), QStringLiteral("important"), title + QStringLiteral(": ") + text);
    }
};

// Runs a function on the GUI thread, after what is already queued there.
template <typename F> void onGuiThread(F f) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(f), Qt::QueuedConnection);
}

// The desktop's keyboard; where it fails for want of /dev/uinput, the failure says how to allow it.
std::unique_ptr<platform::KeyboardDevice> createKeyboard(const QString& keyboardType) {
    try {
        return platform::createKeyboardDevice(keyboardType.toStdString());
    } catch (const platform::KeyboardError& failure) {
        throw platform::KeyboardError(util::PermissionHints::withKeyboardHint(failure.what()));
    }
}

} // namespace

HeadlessRunner::HeadlessRunner(util::CommandLine commandLine)
    : m_commandLine(std::move(commandLine)),
      m_acquisition(
          *this,
          [this](const QString& keyboardType) -> std::unique_ptr<platform::KeyboardDevice> {
              std::unique_ptr<platform::KeyboardDevice> device;
              if (m_commandLine.output == util::CommandLine::Output::Print)
                  device = std::make_unique<PrintKeyboard>(stdout);
              else
                  device = createKeyboard(keyboardType);
              return std::make_unique<CountingKeyboard>(std::move(device), [this] { valueTyped(); });
          },
          [] { return platform::createMidiSynth(); }) {
    m_acquisition.setPortFailureHint([](const QString& port) { return util::PermissionHints::forSerialPort(port); });
    m_acquisition.setOutputFactory(&output::createOutputs);
}

HeadlessRunner::~HeadlessRunner() {
    worker::MessageBoxSeam::install(nullptr);
    if (g_signalPipe[0] >= 0) {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
    }
}

void HeadlessRunner::writeLogLine(const QString& time, const QString& style, const QString& text) {
    const QString prefix = style == QLatin1String("regular") ? QString() : u'[' + style + QStringLiteral("] ");
    // What reaches the terminal never carries control codes from a record, a device or a file.
    const QByteArray line = (time + prefix + base::visibleLine(text) + u'\n').toUtf8();
    QMutexLocker lock(&logMutex());
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
}

void HeadlessRunner::logEvent(const QString& text) {
    writeLogLine(now(), QStringLiteral("regular"), text);
}

void HeadlessRunner::logImportantEvent(const QString& text) {
    writeLogLine(now(), QStringLiteral("important"), text);
}

void HeadlessRunner::showMessage(const QString& title, const QString& text, worker::MessageBoxSeam::Icon) {
    writeLogLine(now(), QStringLiteral("important"), title + QStringLiteral(": ") + text);
}

void HeadlessRunner::appendLog(const QList<worker::LogSpan>& spans) {
    if (spans.isEmpty())
        return;
    // A record line: its own time stamp, then the record; it is "typed" when a part of it was typed.
    QString text;
    QString style = spans.first().style;
    for (const worker::LogSpan& span : spans) {
        text += span.text;
        if (span.style == QLatin1String("typed"))
            style = span.style;
    }
    if (style == QLatin1String("regular"))
        style = QStringLiteral("ignored");
    if (text.endsWith(u'\n'))
        text.chop(1);
    writeLogLine(text.left(9), style, text.mid(9));
}

void HeadlessRunner::setConnectedInGUI(bool connected) {
    onGuiThread([this, connected] {
        const bool wasConnected = m_connected;
        m_connected = connected;
        // While finishing, the end comes when the queue has been typed, not when the port closes.
        if (connected || !wasConnected || m_finishing)
            return;
        logImportantEvent(QStringLiteral("Acquisition ended before the run was complete."));
        m_exitStatus = 1;
        QCoreApplication::exit(m_exitStatus);
    });
}

bool HeadlessRunner::countReached() const {
    return m_commandLine.count && m_handled >= *m_commandLine.count;
}

void HeadlessRunner::update(const worker::DataLine& line) {
    // Records that arrive after the last counted one, while its value is still being typed, are not typed.
    if (m_finishing || countReached())
        return;
    if (m_acquisition.update(line))
        ++m_valuesQueued;
    recordHandled();
}

void HeadlessRunner::recordHandled() {
    ++m_handled;
    checkCount();
}

void HeadlessRunner::valueTyped() {
    ++m_valuesTyped;
    onGuiThread([this] {
        checkCount();
        checkDrained();
    });
}

void HeadlessRunner::checkCount() {
    if (m_finishing || !countReached())
        return;
    if (m_valuesTyped.load() >= m_valuesQueued)
        finish(0);
}

void HeadlessRunner::finish(int status) {
    if (m_finishing)
        return;
    m_finishing = true;
    m_exitStatus = status;
    m_pollTimer.stop();
    // Reading stops; what is already queued is typed, however long that takes, unless a second signal comes.
    if (auto worker = m_acquisition.worker())
        worker->cancel(true);
    const qsizetype waiting = worker::Keybot::queuedCount();
    if (m_acquisition.keybot() && worker::Keybot::queuedTypingMs(m_config.getDelayAsInt()) > 1000)
        logImportantEvent(
            QStringLiteral("Typing %1 queued values; press Ctrl+C again to stop").arg(QString::number(waiting)));
    checkDrained();
}

void HeadlessRunner::checkDrained() {
    if (!m_finishing || m_stopSignal)
        return;
    if (m_acquisition.keybot() && (worker::Keybot::queuedCount() > 0 || m_valuesTyped.load() < m_valuesQueued))
        return;
    QCoreApplication::exit(m_exitStatus);
}

void HeadlessRunner::onStopSignal(int signal) {
    if (!m_finishing) {
        logEvent(QStringLiteral("Stop requested."));
        finish(0);
        return;
    }
    if (m_stopSignal)
        return;
    // The second request: the value under way is finished (terminator included), the rest stays untyped.
    m_stopSignal = signal;
    m_exitStatus = 128 + signal;
    m_acquisition.stop();
    QCoreApplication::exit(m_exitStatus);
}

void HeadlessRunner::keyboardLost(const QString&) {
    // The keyboard thread has said why; nothing can be typed any more, so the run ends (run() closes the port and
    // then counts what was not typed).
    onGuiThread([this] {
        if (m_keyboardLost || m_stopSignal)
            return;
        m_keyboardLost = true;
        m_finishing = true;
        m_exitStatus = 1;
        m_pollTimer.stop();
        QCoreApplication::exit(m_exitStatus);
    });
}

bool HeadlessRunner::loadSettings() {
    const QStringList portList{m_commandLine.port.value_or(QString())};
    QStringList invalid;
    try {
        if (m_commandLine.settingsFile) {
            // The export file is read into a private store that disappears with the run; nothing is written
            // to the file or to the user's settings.
            QTemporaryDir scratch;
            if (!scratch.isValid())
                throw base::TavloException(QStringLiteral("no temporary folder for reading the settings file"));
            auto root = prefs::FilePreferences::createRoot(scratch.filePath(QStringLiteral("settings")));
            prefs::ConfigStore store(*root);
            store.importSettings(*m_commandLine.settingsFile);
            store.loadConfig(m_config, portList);
            invalid = store.invalidSettings();
        } else {
            prefs::ConfigStore store;
            store.loadConfig(m_config, portList);
            invalid = store.invalidSettings();
        }
    } catch (const prefs::AccessDeniedException& e) {
        // The settings the user keeps cannot be read: running on defaults would type other values.
        std::fprintf(stderr, "tavlo: The settings could not be read: access was refused. %s\n",
                     qPrintable(base::visibleLine(e.message())));
        return false;
    } catch (const base::TavloException& e) {
        const QString what = m_commandLine.settingsFile ? *m_commandLine.settingsFile : QStringLiteral("the store");
        std::fprintf(stderr, "tavlo: cannot use the settings of %s: %s\n", qPrintable(base::visibleLine(what)),
                     qPrintable(base::visibleLine(e.message())));
        return false;
    }
    for (const QString& line : invalid)
        logImportantEvent(QStringLiteral("Warning: ") + line);
    if (m_commandLine.port)
        m_config.setPort(*m_commandLine.port);
    if (m_commandLine.dataLog)
        m_config.setDataLogFile(*m_commandLine.dataLog);
    if (m_commandLine.readingService)
        m_config.readingServicePort = *m_commandLine.readingService;
    if (m_commandLine.mqttBroker)
        m_config.mqttBroker = m_commandLine.mqttBroker->trimmed();
    // The command line's --output decides over the stored choice; "none" reads, logs and serves only.
    if (m_commandLine.outputGiven)
        m_config.typeValues = m_commandLine.output != util::CommandLine::Output::None;
    return true;
}

int HeadlessRunner::run() {
    if (!serial::SerialPortLocal::isLibraryLoaded()) {
        std::fprintf(stderr, "tavlo: %s\n", qPrintable(serial::SerialPortLocal::getLibraryFailure()));
        return 2;
    }
    if (!loadSettings())
        return 1;
    const H::Instrument* instrument = m_config.getInstrument() ? m_config.getInstrument() : H::Instrument::getDefault();
    // --poll sends the request of the command table, the same bytes as "Request value".
    if (QString reason; m_commandLine.pollMs &&
                        !worker::Acquisition::hasCommand(m_config, config::InstrumentCommand::Request, &reason)) {
        std::fprintf(stderr, "tavlo: --poll: %s Choose an instrument that answers a request (%s has none).\n",
                     qPrintable(reason), instrument->nameLatin1());
        return 1;
    }

    StderrMessages messages;
    worker::MessageBoxSeam::install(&messages);
    if (::pipe(g_signalPipe) == 0) {
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [this] {
        char byte = 0;
        if (::read(g_signalPipe[0], &byte, 1) == 1)
            onStopSignal(static_cast<unsigned char>(byte));
    });

    // A run that types ends before opening the port when it cannot type; one that only logs and serves needs no
    // keyboard at all.
    m_acquisition.setKeyboardRequired(m_config.typeValues);
    int status = 1;
    if (m_acquisition.start(m_config)) {
        if (m_commandLine.pollMs) {
            QObject::connect(&m_pollTimer, &QTimer::timeout, [this] { m_acquisition.sendRequest(); });
            m_pollTimer.start(*m_commandLine.pollMs);
        }
        status = QCoreApplication::exec();
    }
    // Every thread ends before the process does: the worker (its completion closes the port) and the keyboard
    // thread, which finishes the value under way and closes its device.
    m_acquisition.stopAndWait();
    if (!worker::Keybot::waitForAllThreads(10000))
        logImportantEvent(QStringLiteral("The keyboard output did not end in time."));
    if (m_stopSignal)
        logImportantEvent(QStringLiteral("Stopped after the value under way; %1 queued value(s) were not typed.")
                              .arg(QString::number(worker::Keybot::queuedCount())));
    if (m_keyboardLost)
        logImportantEvent(QStringLiteral("The run ended without its keyboard output; %1 value(s) were not typed.")
                              .arg(QString::number(m_valuesQueued - m_valuesTyped.load())));
    worker::MessageBoxSeam::install(nullptr);
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
    return status;
}

} // namespace tavlo::headless
