#include "tavlo/VudareDiVezFrame2.h"

#include "output/Outputs.h"
#include "worker/Keybot.h"

#include "base/ResourceBundle.h"
#include "base/SystemProperties.h"
#include "platform/Desktop.h"
#include "platform/KeyboardDevice.h"
#include "platform/MidiSynth.h"
#include "serial/NativeLibraryError.h"
#include "serial/SerialPortLocal.h"
#include "tavlo/EventLog.h"
#include "tavlo/JLabelHtml.h"
#include "tavlo/LinkRunner.h"
#include "tavlo/RunCommands.h"
#include "tavlo/TraySupport.h"
#include "tavlo/WindowDialogs.h"
#include "tavlo/headless/OutputKeyboards.h"
#include "tavlo/prefs/ConfigStore.h"
#include "tavlo/prefs/PreferencesExceptions.h"
#include "tavlo/util/FriendlyPortUtil.h"
#include "tavlo/util/PermissionHints.h"
#include "tavlo/util/ProductSite.h"
#include "tavlo/util/UpdateWorker.h"
#include "worker/WeightWorker.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QFile>
#include <QIcon>
#include <QLocale>
#include <QPushButton>
#include <QTextStream>
#include <random>

using tavlo::base::ResourceBundle;
using tavlo::base::SystemProperties;
using tavlo::util::FriendlyPortUtil;

namespace tavlo {

namespace {

bool isQxEdition() {
    return SystemProperties::get(QStringLiteral("EDITION"), QString()) == QLatin1String("QX");
}

// Stands between the update check and the window, so that a closed window is not reached.
class StatusLineView : public util::UpdateWorkerView {
public:
    explicit StatusLineView(VudareDiVezFrame2* window) : m_window(window) {}
    void setText(const QString& text) override {
        if (m_window)
            m_window->setText(text);
    }

private:
    QPointer<VudareDiVezFrame2> m_window;
};

struct StatusLineViewHolder {
    explicit StatusLineViewHolder(VudareDiVezFrame2* window) : statusView(window) {}
    StatusLineView statusView;
};

// The update check with its own forwarding view, which thus lives as long as the task.
class WindowUpdateWorker : private StatusLineViewHolder, public util::UpdateWorker {
public:
    WindowUpdateWorker(VudareDiVezFrame2* window, QString address, QString version, QString language, QString edition)
        : StatusLineViewHolder(window),
          UpdateWorker(&statusView, std::move(address), std::move(version), std::move(language), std::move(edition)) {}
};

} // namespace

VudareDiVezFrame2::VudareDiVezFrame2(std::optional<QString> commandLinePort, Options options)
    : m_resourceBundle(ResourceBundle::getBundle(QStringLiteral("tavlo.Tavlo"))) {
    // 1 and 2: the text tables must hold every key before anything is shown with them.
    const QStringList missing = checkResourceBundles();
    if (!missing.isEmpty()) {
        QTextStream(stderr) << "Missing text keys: " << missing.join(QStringLiteral(", ")) << '\n';
        throw FatalStartupError{4, QStringLiteral("Fatal error"),
                                QStringLiteral("Program files seem to be damaged or missing!\nTry downloading and "
                                               "reinstalling the program.")};
    }
    if (options.dialogs) {
        m_dialogs = options.dialogs;
    } else {
        m_ownDialogs = std::make_unique<QtWindowDialogs>(this);
        m_dialogs = m_ownDialogs.get();
    }
    worker::MessageBoxSeam::install(m_dialogs);
    if (options.store) {
        m_store = options.store;
    } else {
        m_ownStore = std::make_unique<prefs::ConfigStore>();
        m_store = m_ownStore.get();
    }
    auto keyboards = options.keyboards;
    if (!keyboards)
        keyboards = [](const QString& type) {
            try {
                return platform::createKeyboardDevice(type.toStdString());
            } catch (const platform::KeyboardError& failure) {
                // Where typing needs /dev/uinput, the failure says how to allow it.
                throw platform::KeyboardError(util::PermissionHints::withKeyboardHint(failure.what()));
            }
        };
    // Each value typed is reported to the window (on its thread), which counts down a queue typed at closing.
    keyboards = [keyboards, window = QPointer<VudareDiVezFrame2>(this)](
                    const QString& type) -> std::unique_ptr<platform::KeyboardDevice> {
        std::unique_ptr<platform::KeyboardDevice> device = keyboards(type);
        if (!device)
            return device;
        return std::make_unique<headless::CountingKeyboard>(std::move(device), [window] {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [window] {
                    if (window)
                        window->queuedValueTyped();
                },
                Qt::QueuedConnection);
        });
    };
    auto synths = options.synths;
    if (!synths)
        synths = [] { return platform::createMidiSynth(); };
    m_acquisition = std::make_unique<worker::Acquisition>(*this, std::move(keyboards), std::move(synths));
    m_acquisition->setPortFailureHint([](const QString& port) { return util::PermissionHints::forSerialPort(port); });
    m_acquisition->setOutputFactory(&output::createOutputs);
    m_runCommands = std::make_unique<RunCommands>(*m_acquisition, [this](const QString& line) { logEvent(line); });
    m_hotkey = new RequestHotkey(options.hotkeys, this);

    listPortsAtStart(commandLinePort); // 3
    loadConfigAtStart();               // 4
    if (m_portFromCommandLine)         // 5
        m_config.setPort(*commandLinePort);
    m_oldConfig = config::Config::copyConfig(m_config); // 6
    buildControls();                                    // 7
    connectBench();
    if (options.instance) {
        m_instance = options.instance;
        m_instance->setHandler(
            [this](const QString& command, const QString& argument, const util::WindowInstance::Reply& reply) {
                instanceRequest(command, argument, reply);
            });
    }
    setWindowTitle(isQxEdition() ? QStringLiteral("Corvane Tavlo QX") : QStringLiteral("Corvane Tavlo")); // 8
    startUpdateCheck(options);                                                                            // 9
    loadIcons(options.iconDirectory);                                                                     // 10
    resize(640, 440);
    // Space or Enter starts right away: the Start button has the keyboard focus.
    startStopJButton->setFocus(Qt::OtherFocusReason);
    show();
    updateConfigFromTabs();      // 11
    if (m_config.minimizeToTray) // 12
        addMinimizeToTraySupport();
    autoStart(); // 13
}

VudareDiVezFrame2::~VudareDiVezFrame2() {
    m_closing = true;
    if (m_instance)
        m_instance->setHandler({});
    shutdownAcquisition();
    if (m_acquisition) {
        m_acquisition->setReadingListener({});
        m_acquisition->setStatusListener({});
    }
    if (m_stopUpdateCheck)
        m_stopUpdateCheck();
    if (worker::MessageBoxSeam* installed = &worker::MessageBoxSeam::installed(); installed == m_dialogs)
        worker::MessageBoxSeam::install(nullptr);
    // The controls go while the settings record they listen to still exists (members die before the base).
    m_checkers.clear();
    m_tray = nullptr;
    delete takeCentralWidget();
}

QString VudareDiVezFrame2::text(const char* key) const {
    return m_resourceBundle.getString(QLatin1String(key));
}

void VudareDiVezFrame2::showMessage(const QString& title, const QString& message, worker::MessageBoxSeam::Icon kind) {
    if (m_capturedMessages)
        m_capturedMessages->append(message);
    const bool wasOpen = m_boxOpen;
    m_boxOpen = true;
    m_dialogs->showMessage(title, message, kind);
    m_boxOpen = wasOpen;
}

void VudareDiVezFrame2::showFieldError(const QString& key) {
    // A check that runs while a box is open (the focus moved to the box) must not open a second one.
    if (m_boxOpen)
        return;
    showMessage(text("error"), m_resourceBundle.getString(key), worker::MessageBoxSeam::Icon::Error);
}

void VudareDiVezFrame2::listPortsAtStart(const std::optional<QString>& commandLinePort) {
    if (commandLinePort && !commandLinePort->isEmpty()) {
        m_portNames = {*commandLinePort};
        m_portFromCommandLine = true;
        return;
    }
    try {
        m_portNames = serial::SerialPortLocal::getPortList();
        try {
            FriendlyPortUtil::update();
        } catch (const std::exception&) {
            // Without driver information the list shows the plain names.
        }
    } catch (const serial::NativeLibraryError&) {
        throw FatalStartupError{2, text("fatal.error"),
                                text("library.tspwin.not.found.or.not.matching.your.system") + QStringLiteral(" (") +
                                    serial::SerialPortLocal::getOsName() + QStringLiteral(" ") +
                                    serial::SerialPortLocal::getOsArch() + QStringLiteral(")") +
                                    text("program.will.now.exit")};
    } catch (const base::TavloException& failure) {
        error(text("error.listing.available.ports") + failure.message());
        m_portNames.clear();
    }
    if (m_portNames.isEmpty())
        error(text("no.rs.232.port.found.on.your.system.program.will.now.exit"));
}

bool VudareDiVezFrame2::loadConfig() {
    return m_store->loadConfig(m_config, m_portNames);
}

void VudareDiVezFrame2::loadConfigAtStart() {
    try {
        if (!loadConfig())
            showMessage(text("error.while.loading.settings"),
                        text("invalid.setting.replaced") + u'\n' + m_store->invalidSettings().join(u'\n'),
                        worker::MessageBoxSeam::Icon::Error);
    } catch (const prefs::AccessDeniedException& failure) {
        showMessage(text("error.while.loading.settings"),
                    text("access.error.while.loading.settings") + u'\n' + failure.message(),
                    worker::MessageBoxSeam::Icon::Error);
    } catch (const prefs::BackingStoreException&) {
        showMessage(text("error.while.loading.settings"), text("access.error.while.loading.settings"),
                    worker::MessageBoxSeam::Icon::Error);
    }
}

void VudareDiVezFrame2::saveConfig() {
    m_store->saveConfig(m_config);
}

bool VudareDiVezFrame2::saveNecessary() {
    return prefs::ConfigStore::saveNecessary(m_config, m_oldConfig);
}

void VudareDiVezFrame2::startUpdateCheck(const Options& options) {
    if (!m_config.checkForUpdates)
        return;
    int draw = 0;
    if (options.updateDraw) {
        draw = options.updateDraw();
    } else {
        std::random_device seed;
        std::mt19937 generator(seed());
        draw = std::uniform_int_distribution<int>(0, 3)(generator);
    }
    if (draw != 0)
        return;
    auto task = std::make_shared<WindowUpdateWorker>(
        this, util::ProductSite::versionDocumentAddress(), SystemProperties::get(QStringLiteral("VERSION"), QString()),
        QLocale().name().section(QLatin1Char('_'), 0, 0), SystemProperties::get(QStringLiteral("EDITION"), QString()));
    m_updateWorker = task;
    m_stopUpdateCheck = [task] {
        task->cancel(true);
        task->waitForBody();
    };
    task->execute();
}

void VudareDiVezFrame2::loadIcons(const QString& directory) {
    const QString base = directory.isEmpty() ? QStringLiteral(":/icons") : directory;
    const QString prefix = isQxEdition() ? QStringLiteral("TavloQX") : QStringLiteral("Tavlo");
    QIcon icon;
    for (int size : {32, 24, 20, 16}) {
        const QString path = QStringLiteral("%1/%2%3.png").arg(base, prefix).arg(size);
        QPixmap pixmap;
        if (!QFile::exists(path) || !pixmap.load(path)) {
            QTextStream(stderr) << "Couldn't find file: " << path << '\n';
            continue;
        }
        m_icons.insert(size, pixmap);
        icon.addPixmap(pixmap);
    }
    setWindowIcon(icon);
}

void VudareDiVezFrame2::autoStart() {
    if (m_config.getConnect() != &config::ConfigHelper::Connect::AUTO)
        return;
    const QString prevPort = m_config.getPrevPort().value_or(QString());
    if (m_config.abortAutoStartWhenPrevPortNotAvailable && !m_portFromCommandLine && prevPort != m_config.getPort()) {
        error(m_resourceBundle.format(QStringLiteral("previously.used.port.0.no.longer.available.naborting.auto.start"),
                                      {prevPort}));
        return;
    }
    startStopJButtonActionPerformed();
    if (m_config.minimizeToTray)
        setWindowState(windowState() | Qt::WindowMinimized);
}

void VudareDiVezFrame2::addMinimizeToTraySupport() {
    if (!TraySupport::available())
        return;
    if (!m_tray)
        m_tray = new TraySupport(
            this, m_icons, [this] { return m_config.notifyWhenMinimizedToTray; }, text("minimized.to.system.tray"));
    m_tray->install();
}

void VudareDiVezFrame2::removeMinimizeToTraySupport() {
    if (m_tray)
        m_tray->remove();
}

void VudareDiVezFrame2::setText(const QString& message) {
    m_statusJLabel->setText(message);
}

void VudareDiVezFrame2::closeEvent(QCloseEvent* event) {
    if (typeQueueBeforeClosing()) {
        event->ignore();
        return;
    }
    event->accept();
    thisWindowClosed();
}

bool VudareDiVezFrame2::typeQueueBeforeClosing() {
    if (m_closing || m_stoppedTyping || !m_acquisition->keybot())
        return false;
    if (m_typingBeforeClose) {
        // Closed again: the keyboard output ends after the value under way; the rest is counted at exit.
        m_stoppedTyping = true;
        return false;
    }
    if (worker::Keybot::queuedCount() == 0)
        return false;
    m_typingBeforeClose = true;
    if (auto worker = m_acquisition->worker())
        worker->cancel(true);
    queuedValueTyped();
    return true;
}

void VudareDiVezFrame2::queuedValueTyped() {
    if (m_closing)
        return;
    if (!m_typingBeforeClose) {
        if (m_connectedGUI)
            m_acquisition->refreshStatus();
        return;
    }
    const qsizetype waiting = worker::Keybot::queuedCount();
    if (waiting > 0) {
        setText(
            QStringLiteral("Typing %1 queued values; close the window again to stop.").arg(QString::number(waiting)));
        return;
    }
    m_typingBeforeClose = false;
    close();
}

void VudareDiVezFrame2::thisWindowClosed() {
    if (m_closing)
        return;
    m_closing = true;
    updateConfigFromTabs();
    try {
        saveConfig();
    } catch (const prefs::AccessDeniedException& failure) {
        error(text("access.error.while.saving.settings") + u'\n' + failure.message());
    }
    exitProgram(0);
}

// Stops the run and waits for its worker, whose completion (it closes the port and reports the idle state)
// must reach this window while it still exists.
void VudareDiVezFrame2::shutdownAcquisition() {
    if (!m_acquisition)
        return;
    m_acquisition->stopAndWait();
}

void VudareDiVezFrame2::exitProgram(int status) {
    m_closing = true;
    // Every thread the window started ends before the process does.
    shutdownAcquisition();
    worker::Keybot::waitForAllThreads(10000);
    if (m_stoppedTyping) {
        const QString left = QStringLiteral("Stopped after the value under way; %1 queued value(s) were not typed.")
                                 .arg(QString::number(worker::Keybot::queuedCount()));
        logImportantEvent(left);
        QTextStream(stderr) << left << '\n';
    }
    if (m_stopUpdateCheck)
        m_stopUpdateCheck();
    LinkRunner::waitForAll();
    m_exitRequested = true;
    emit exitRequested(status);
    QCoreApplication::exit(status);
}

} // namespace tavlo
