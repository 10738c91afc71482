// The bench operator's parts of the main window: the reading on the Start tab, the instrument's commands from
// its buttons and the hotkey, and the requests of later starts and tavlo --send.
#include "tavlo/VudareDiVezFrame2.h"

#include "base/ResourceBundle.h"
#include "config/Instrument.h"
#include "tavlo/ReadingPanel.h"
#include "tavlo/RunCommands.h"
#include "tavlo/util/FriendlyPortUtil.h"
#include "worker/DataLine.h"
#include "worker/WeightWorker.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tavlo {

using config::ConfigHelper;
using config::InstrumentCommand;

namespace {

constexpr InstrumentCommand kCommands[] = {InstrumentCommand::Request, InstrumentCommand::Tare,
                                           InstrumentCommand::Zero};

const ConfigHelper::Instrument& instrumentOf(const config::Config& settings) {
    return settings.getInstrument() ? *settings.getInstrument() : *ConfigHelper::Instrument::getDefault();
}

} // namespace

void VudareDiVezFrame2::connectBench() {
    // The display is fed by the readings the run makes for every output: what it shows is what the event log
    // and the data log tell.
    m_acquisition->setReadingListener([this](const std::shared_ptr<const worker::Reading>& reading) {
        if (!m_closing)
            readingPanel->showReading(*reading);
    });
    m_acquisition->setStatusListener([this](const worker::StatusEvent& event) {
        m_runCommands->statusChanged(event);
        hotkeyFollowsRun(event);
        if (m_closing)
            return;
        readingPanel->statusChanged(event);
        updateRequestButton();
    });
    connect(readingPanel, &ReadingPanel::commandClicked, this,
            [this](InstrumentCommand command) { sendCommandFrom(command, QStringLiteral("the window")); });
    connect(m_hotkey, &RequestHotkey::pressed, this, [this] {
        sendCommandFrom(InstrumentCommand::Request,
                        QStringLiteral("the hotkey %1").arg(RequestHotkey::shownText(m_config.requestHotkey)));
    });
    connect(requestHotkeyEdit, &QKeySequenceEdit::keySequenceChanged, this, &VudareDiVezFrame2::hotkeyEdited);
    connect(requestHotkeyClearButton, &QPushButton::clicked, this, [this] {
        requestHotkeyEdit->clear();
        m_config.requestHotkey.clear();
        requestHotkeyNote->setText(text("VudareDiVezFrame2.requestHotkeyNote.text"));
    });
    updateRequestButton();
}

QWidget* VudareDiVezFrame2::buildHotkeyRow(QWidget* page) {
    auto* box = new QWidget(page);
    requestHotkeyEdit = new QKeySequenceEdit(box);
    requestHotkeyEdit->setToolTip(text("VudareDiVezFrame2.requestHotkeyEdit.toolTip"));
    requestHotkeyClearButton = new QPushButton(text("VudareDiVezFrame2.requestHotkeyClearButton.text"), box);
    requestHotkeyNote = new QLabel(text("VudareDiVezFrame2.requestHotkeyNote.text"), box);
    requestHotkeyNote->setWordWrap(true);
    requestHotkeyNote->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* line = new QHBoxLayout;
    line->addWidget(requestHotkeyEdit, 1);
    line->addWidget(requestHotkeyClearButton);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(line);
    layout->addWidget(requestHotkeyNote);
    return box;
}

void VudareDiVezFrame2::showBenchInControls() {
    const QSignalBlocker blocker(requestHotkeyEdit);
    const QString setting = m_config.requestHotkey;
    QString why;
    const auto combination = setting.isEmpty() ? std::nullopt : RequestHotkey::combinationOf(setting, &why);
    requestHotkeyEdit->setKeySequence(combination ? QKeySequence(*combination) : QKeySequence());
    requestHotkeyNote->setText(setting.isEmpty() || combination
                                   ? text("VudareDiVezFrame2.requestHotkeyNote.text")
                                   : QStringLiteral("The stored hotkey cannot be used: %1").arg(why));
}

void VudareDiVezFrame2::hotkeyEdited() {
    if (m_filling || m_closing)
        return;
    const QKeySequence sequence = requestHotkeyEdit->keySequence();
    if (sequence.isEmpty())
        return;
    QString why;
    if (!RequestHotkey::chordOf(sequence[0], &why)) {
        // Not a combination a hotkey may be: the field goes back to the setting.
        showBenchInControls();
        requestHotkeyNote->setText(why);
        return;
    }
    // One combination only: the field would otherwise collect a sequence of up to four.
    if (sequence.count() > 1) {
        const QSignalBlocker blocker(requestHotkeyEdit);
        requestHotkeyEdit->setKeySequence(QKeySequence(sequence[0]));
    }
    m_config.requestHotkey = RequestHotkey::settingText(sequence[0]);
    QString message;
    // A combination another program holds is named now, while the user is choosing; the setting stays.
    requestHotkeyNote->setText(
        m_hotkey->check(m_config.requestHotkey, &message) ? text("VudareDiVezFrame2.requestHotkeyNote.text") : message);
}

void VudareDiVezFrame2::hotkeyFollowsRun(const worker::StatusEvent& event) {
    using Kind = worker::StatusEvent::Kind;
    if (event.kind == Kind::Stopped) {
        m_hotkey->release();
        return;
    }
    if (event.kind != Kind::PortOpened || m_hotkey->isTaken() || m_closing)
        return;
    // The port opens while Start creates the worker, with the settings that Start took from the tabs.
    const QString setting = m_config.requestHotkey;
    if (setting.isEmpty())
        return;
    QString message;
    if (m_hotkey->take(setting, &message)) {
        logEvent(QStringLiteral("Hotkey %1: pressed anywhere, it asks the instrument for a reading.")
                     .arg(RequestHotkey::shownText(setting)));
        return;
    }
    // Where the session gives no program global keys, that does not change from one Start to the next.
    const bool unavailable = message.contains(QLatin1String("tavlo --send request"));
    if (unavailable && m_hotkeyUnavailableSaid)
        return;
    m_hotkeyUnavailableSaid = m_hotkeyUnavailableSaid || unavailable;
    logImportantEvent(message);
}

void VudareDiVezFrame2::setOutputState(const QString& output, const QString& text) {
    (void)output; // MQTT is the one output with a connection of its own
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            if (readingPanel && !m_closing)
                readingPanel->setOutputState(text);
        },
        Qt::QueuedConnection);
}

void VudareDiVezFrame2::sendCommandFrom(InstrumentCommand command, const QString& from) {
    QString why;
    if (!m_runCommands->send(command, from, m_config, &why))
        logImportantEvent(QStringLiteral("%1 not sent: %2").arg(RunCommands::title(command), why));
}

QString VudareDiVezFrame2::planText(const config::Config& planned) const {
    const QString instrument = instrumentOf(planned).toString();
    const QString port =
        planned.getPort().isEmpty() ? QString() : util::FriendlyPortUtil::getFriendlyPortName(planned.getPort());
    const auto* keyboard =
        planned.getKeyboardType() ? planned.getKeyboardType() : ConfigHelper::KeyboardType::getDefault();
    const QString typing = planned.typeValues
                               ? QStringLiteral("types with the keyboard %1").arg(keyboard->toString())
                               : QStringLiteral("does not type the values (typing is off on the Output tab)");
    // The broker, when readings also go there.
    const QString broker = planned.mqttBroker.trimmed();
    const QString mqtt =
        broker.isEmpty() ? QString() : QStringLiteral(" Every reading also goes to the MQTT broker %1.").arg(broker);
    if (m_connectedGUI)
        return QStringLiteral("Reading %1 with the instrument %2; Tavlo %3.").arg(port, instrument, typing) + mqtt;
    if (port.isEmpty())
        return QStringLiteral("Start needs a port: choose one on the Input tab.");
    return QStringLiteral("Start reads %1 with the instrument %2 and %3.").arg(port, instrument, typing) + mqtt;
}

void VudareDiVezFrame2::updateRequestButton() {
    if (!readingPanel || !m_runCommands || m_closing)
        return;
    const auto worker = m_acquisition->worker();
    const config::Config planned =
        m_connectedGUI && worker ? config::Config::copyConfig(worker->config()) : settingsInTabs();
    readingPanel->setPlan(planText(planned));
    for (InstrumentCommand command : kCommands) {
        QString why;
        const bool ok = m_runCommands->available(command, planned, &why);
        const QByteArray bytes = instrumentOf(planned).getCommand(command);
        readingPanel->setCommandState(command, ok,
                                      ok ? QStringLiteral("Sends %1 to the instrument")
                                               .arg(worker::DataLine::transformControlChars(QString::fromLatin1(bytes)))
                                         : why);
    }
}

void VudareDiVezFrame2::bringToFront() {
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void VudareDiVezFrame2::instanceRequest(const QString& command, const QString& argument,
                                        const util::WindowInstance::Reply& reply) {
    if (m_closing || m_typingBeforeClose) {
        reply(false, QStringLiteral("The Tavlo window is closing."));
        return;
    }
    const auto worker = m_acquisition->worker();
    const QString port = m_connectedGUI && worker ? worker->config().getPort() : m_config.getPort();
    if (command == QLatin1String("show")) {
        bringToFront();
        if (!argument.isEmpty() && argument != port)
            logEvent(QStringLiteral("Tavlo was started again with the port %1; this window keeps %2.")
                         .arg(argument, port.isEmpty() ? QStringLiteral("its port") : port));
        reply(true, port);
        return;
    }
    if (const auto instrumentCommand = config::commandFromName(command)) {
        QString why;
        const bool ok = m_runCommands->send(*instrumentCommand, QStringLiteral("tavlo --send"), m_config, &why);
        reply(ok, ok ? QString() : why);
        return;
    }
    if (command != QLatin1String("start") && command != QLatin1String("stop")) {
        reply(false, QStringLiteral("The window knows no command \"%1\".").arg(command));
        return;
    }
    // Start and Stop change the window under a dialog that the user is answering.
    if (QApplication::activeModalWidget() || m_boxOpen) {
        reply(false, QStringLiteral("The Tavlo window shows a dialog; answer it first."));
        return;
    }
    // Asked for the state it is in already, the window has nothing to do; that is no failure.
    if (command == QLatin1String("stop")) {
        if (!m_connectedGUI) {
            reply(true, QStringLiteral("The window was not reading."));
            return;
        }
        startStopJButtonActionPerformed();
        reply(true, QString());
        return;
    }
    if (m_connectedGUI) {
        reply(true, QStringLiteral("The window is reading already."));
        return;
    }
    QStringList messages;
    m_capturedMessages = &messages;
    startStopJButtonActionPerformed();
    m_capturedMessages = nullptr;
    if (m_connectedGUI)
        reply(true, messages.join(u' '));
    else
        reply(false, messages.isEmpty() ? QStringLiteral("Start did not succeed; the window's event log says why.")
                                        : messages.join(u' '));
}

} // namespace tavlo
