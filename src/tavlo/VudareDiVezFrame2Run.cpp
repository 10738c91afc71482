// Start and Stop, the connected state, the event log lines and the text-table check of the main window.
#include "tavlo/VudareDiVezFrame2.h"

#include "base/LogText.h"
#include "base/ResourceBundle.h"
#include "config/Instrument.h"
#include "tavlo/EventLog.h"
#include "tavlo/JLabelHtml.h"

#include <QDateTime>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QThread>
#include <utility>

using tavlo::base::ResourceBundle;
using tavlo::config::ConfigHelper;

namespace tavlo {

void VudareDiVezFrame2::startStopJButtonActionPerformed() {
    if (!m_connectedGUI) {
        updateConfigFromTabs();
        m_acquisition->start(m_config);
        updateRequestButton(); // the worker that the buttons send through exists now
    } else {
        m_acquisition->stop();
    }
}

void VudareDiVezFrame2::requestButtonActionPerformed() {
    sendCommandFrom(config::InstrumentCommand::Request, QStringLiteral("the window"));
}

void VudareDiVezFrame2::update(const worker::DataLine& line) {
    m_acquisition->update(line.copy());
}

void VudareDiVezFrame2::appendLog(const QList<worker::LogSpan>& spans) {
    QList<EventLog::Span> out;
    for (const worker::LogSpan& span : spans)
        out.append(EventLog::Span(span.text, span.style));
    m_eventLog->appendSpans(out);
}

void VudareDiVezFrame2::setStatus(const QString& status) {
    setText(status);
}

void VudareDiVezFrame2::setConnectedInGUI(bool connected) {
    m_connectedGUI = connected;
    // May come from the worker's thread; the widgets change on the GUI thread.
    QMetaObject::invokeMethod(
        this,
        [this, connected] {
            try {
                startStopJButton->setText(connected ? text("VudareDiVezFrame2.startStopJButton.textStop")
                                                    : text("VudareDiVezFrame2.startStopJButton.text"));
                if (connected) {
                    for (int tab : {ServicesTab, OutputTab, ProcessingTab, InputTab, SettingsTab}) {
                        const int index = m_tabbedPane->indexOf(m_pages[tab]);
                        if (index >= 0)
                            m_tabbedPane->removeTab(index);
                    }
                    if (m_config.typeValues) {
                        setText(text("switch.to.target.application"));
                        startHintLabel->setText(QStringLiteral(
                            "Values are typed into the application that has the focus. Press Stop to end."));
                    } else {
                        startHintLabel->setText(
                            QStringLiteral("Readings are logged and served; nothing is typed. Press Stop to end."));
                    }
                } else {
                    setText(m_keyboardLostStatus.isEmpty() ? text("VudareDiVezFrame2.statusJLabel.text")
                                                           : std::exchange(m_keyboardLostStatus, QString()));
                    startHintLabel->setText(text("VudareDiVezFrame2.startHint.text"));
                    for (int tab : {InputTab, ProcessingTab, OutputTab, SettingsTab, ServicesTab})
                        if (m_tabbedPane->indexOf(m_pages[tab]) < 0)
                            m_tabbedPane->insertTab(tab, m_pages[tab], m_pageTitles[tab]);
                }
                updateRequestButton();
            } catch (const std::exception&) {
                error(text("internal.error"));
            }
        },
        QThread::currentThread() == thread() ? Qt::DirectConnection : Qt::QueuedConnection);
}

void VudareDiVezFrame2::keyboardLost(const QString& reason) {
    // From the keyboard thread, which has logged the loss. The status line changes once the run has stopped.
    QMetaObject::invokeMethod(
        this,
        [this, reason] {
            const QString status = QStringLiteral("Typing stopped: %1. Press Start to try again.").arg(reason);
            if (m_connectedGUI) {
                m_keyboardLostStatus = status;
                m_acquisition->stop();
            } else {
                setText(status);
            }
        },
        Qt::QueuedConnection);
}

// Event-log lines may quote a device or a file; their control codes are shown, never passed on.
void VudareDiVezFrame2::logEvent(const QString& message) {
    eventLogAppend(worker::logTimeStamp(QDateTime::currentDateTime()) + base::visibleLine(message) +
                       QStringLiteral("\n"),
                   QStringLiteral("regular"));
}

void VudareDiVezFrame2::logImportantEvent(const QString& message) {
    eventLogAppend(worker::logTimeStamp(QDateTime::currentDateTime()) + base::visibleLine(message) +
                       QStringLiteral("\n"),
                   QStringLiteral("important"));
}

void VudareDiVezFrame2::eventLogAppend(const QString& message) {
    m_eventLog->append(message, QStringLiteral("regular"));
}

void VudareDiVezFrame2::eventLogAppend(const QString& message, const QString& style) {
    m_eventLog->append(message, style);
}

QStringList VudareDiVezFrame2::checkResourceBundles() {
    static const char* const windowKeys[] = {"error",
                                             "Info",
                                             "info",
                                             "warning",
                                             "fatal.error",
                                             "VudareDiVezFrame2.statusJLabel.text",
                                             "checking.for.update",
                                             "update.check.failed",
                                             "update.available",
                                             "update.available.qx",
                                             "VudareDiVezFrame2.panel1.tab.title",
                                             "VudareDiVezFrame2.inputPanel.tab.title",
                                             "VudareDiVezFrame2.processingPanel.tab.title",
                                             "VudareDiVezFrame2.outputPanel.tab.title",
                                             "VudareDiVezFrame2.settingsPanel.tab.title",
                                             "VudareDiVezFrame2.servicesPanel.tab.title",
                                             "VudareDiVezFrame2.eventLogPanel.tab.title",
                                             "VudareDiVezFrame2.aboutPanel.tab.title",
                                             "VudareDiVezFrame2.startStopJButton.text",
                                             "VudareDiVezFrame2.startStopJButton.textStop",
                                             "VudareDiVezFrame2.startHint.text",
                                             "VudareDiVezFrame2.requestButton.text",
                                             "VudareDiVezFrame2.tareButton.text",
                                             "VudareDiVezFrame2.zeroButton.text",
                                             "VudareDiVezFrame2.requestHotkeyLabel.text",
                                             "VudareDiVezFrame2.requestHotkeyEdit.toolTip",
                                             "VudareDiVezFrame2.requestHotkeyClearButton.text",
                                             "VudareDiVezFrame2.requestHotkeyNote.text",
                                             "VudareDiVezFrame2.deviceLabel.text",
                                             "VudareDiVezFrame2.portLabel.text",
                                             "VudareDiVezFrame2.refreshPortsButton.text",
                                             "VudareDiVezFrame2.autoButton.text",
                                             "VudareDiVezFrame2.defaultButton.text",
                                             "VudareDiVezFrame2.customizeButton.text",
                                             "VudareDiVezFrame2.bitRateLabel.text",
                                             "VudareDiVezFrame2.dataBitsLabel.text",
                                             "VudareDiVezFrame2.stopBitsLabel.text",
                                             "VudareDiVezFrame2.parityLabel.text",
                                             "VudareDiVezFrame2.inputTerminatorLabel.text",
                                             "VudareDiVezFrame2.mathOperationLabel.text",
                                             "VudareDiVezFrame2.decimalLabel.text",
                                             "VudareDiVezFrame2.roundingMethodLabel.text",
                                             "VudareDiVezFrame2.editLabel.text",
                                             "VudareDiVezFrame2.removeCharactersLabel.text",
                                             "VudareDiVezFrame2.ignoreDuplicatesCheckBox.text",
                                             "VudareDiVezFrame2.adjustIgnoreButton.text",
                                             "VudareDiVezFrame2.decimalSeparatorLabel.text",
                                             "VudareDiVezFrame2.outputTerminatorLabel.text",
                                             "VudareDiVezFrame2.outputTerminator2Label.text",
                                             "VudareDiVezFrame2.everyXValuesLabel.text",
                                             "VudareDiVezFrame2.startWithLabel.text",
                                             "VudareDiVezFrame2.keyboardTypeLabel.text",
                                             "VudareDiVezFrame2.delayLabel.text",
                                             "VudareDiVezFrame2.soundLabel.text",
                                             "VudareDiVezFrame2.manualConnectButton.text",
                                             "VudareDiVezFrame2.autoConnectButton.text",
                                             "VudareDiVezFrame2.minimizeToTrayCheckBox.text",
                                             "VudareDiVezFrame2.notifyWhenMinimizedToTrayCheckBox.text",
                                             "VudareDiVezFrame2.checkForUpdatesCheckBox.text",
                                             "VudareDiVezFrame2.abortAutoStartCheckBox.text",
                                             "VudareDiVezFrame2.importSettingsButton.text",
                                             "VudareDiVezFrame2.exportSettingsButton.text",
                                             "VudareDiVezFrame2.aboutPane.text",
                                             "tray.unavailable",
                                             "switch.to.target.application",
                                             "line.count",
                                             "typing.backlog.status",
                                             "keyboard.output.started.type",
                                             "minimized.to.system.tray",
                                             "error.opening.port",
                                             "invalid.setting",
                                             "sound.output.error",
                                             "error.while.loading.settings",
                                             "export.successful",
                                             "overwrite",
                                             "internal.error",
                                             "error.initializing.keyboard.output",
                                             "please.turn.off.caps.lock",
                                             "error.while.initializing.sound.output",
                                             "no.rs.232.port.found.on.your.system.program.will.now.exit",
                                             "error.listing.available.ports",
                                             "invalid.setting.replaced",
                                             "access.error.while.loading.settings",
                                             "access.error.while.saving.settings",
                                             "previously.used.port.0.no.longer.available.naborting.auto.start",
                                             "autosave.error",
                                             "library.tspwin.not.found.or.not.matching.your.system",
                                             "program.will.now.exit",
                                             "no.default.values.available.for.this.device",
                                             "error.math.operand",
                                             "error.decimal.places",
                                             "error.edit.numCharacters",
                                             "error.edit.everyXValues",
                                             "error.edit.removeCharacters",
                                             "error.intercharacter.delay",
                                             "terminator.must.be.between.0.and.255",
                                             "info.delay.keyboard.all",
                                             "please.enter.number.of.decimal.places.for.rounding.or.disable.division",
                                             "ignore.error",
                                             "invalid.expression",
                                             "file.already.exists.overwrite",
                                             "cancelled.by.user",
                                             "configuration.exported.to.file.n",
                                             "export.failed",
                                             "IgnoreDialog.this.title",
                                             "IgnoreDialog.label2.text",
                                             "IgnoreDialog.label3.text",
                                             "IgnoreDialog.cancelButton.text",
                                             "CustomRegExDialog.this.title",
                                             "CustomRegExDialog.label2.text",
                                             "CustomRegExDialog.label3.text",
                                             "CustomRegExDialog.label4.text",
                                             "CustomRegExDialog.cancelButton.text"};
    static const char* const workerKeys[] = {"port.opened",
                                             "cannot_type",
                                             "keyboard.values.still.queued",
                                             "keyboard.backlog",
                                             "keyboard.backlog.caught.up",
                                             "null.port.error",
                                             "parity.error",
                                             "framing.error",
                                             "unsent.data",
                                             "stopped",
                                             "interrupted",
                                             "execution.exception",
                                             "record.overflow",
                                             "control.characters.cut",
                                             "record.overflow.end",
                                             "port.lost",
                                             "port.reopen.failed",
                                             "port.reopened",
                                             "warning",
                                             "and.error.unusual",
                                             "and.error.dataset.not.ready",
                                             "and.error.not.connected",
                                             "auto.port.detection.started",
                                             "testing.port.0",
                                             "confidence",
                                             "best.port",
                                             "could.not.auto.detect.port"};
    QStringList missing;
    const auto check = [&missing](const QString& table, const auto& keys) {
        try {
            const ResourceBundle& bundle = ResourceBundle::getBundle(table);
            for (const char* key : keys)
                if (!bundle.containsKey(QLatin1String(key)))
                    missing.append(table + QLatin1Char(':') + QLatin1String(key));
        } catch (const base::MissingResourceException&) {
            missing.append(table);
        }
    };
    check(QStringLiteral("tavlo.Tavlo"), windowKeys);
    check(QStringLiteral("tavlo.worker.WorkerBundle"), workerKeys);
    // The option labels: loading them reads every key of the option table that a type uses.
    try {
        ConfigHelper::BitRates::labels();
        ConfigHelper::DataBits::labels();
        ConfigHelper::StopBits::labels();
        ConfigHelper::Parity::labels();
        ConfigHelper::StartWith::labels();
        ConfigHelper::OutputTerminator::labels();
        ConfigHelper::Sound::labels();
        ConfigHelper::RoundingMethod::labels();
        ConfigHelper::MathOperation::labels();
        ConfigHelper::DecimalSeparator::labels();
        ConfigHelper::Connect::labels();
        ConfigHelper::EditPosition::labels();
        ConfigHelper::EditOperation::labels();
        ConfigHelper::KeyboardType::labels();
        ConfigHelper::InputTerminator::labels();
        ConfigHelper::Instrument::labels();
    } catch (const base::MissingResourceException& failure) {
        missing.append(QStringLiteral("tavlo.config.ConfigBundle: ") + failure.message());
    }
    return missing;
}

} // namespace tavlo
