// The handlers of the main window's controls, the field checks and taking the settings from the tabs.
#include "tavlo/VudareDiVezFrame2.h"

#include "base/ResourceBundle.h"
#include "config/Instrument.h"
#include "serial/SerialPortLocal.h"
#include "tavlo/AutoPortDialog.h"
#include "tavlo/CustomRegExDialog.h"
#include "tavlo/DecimalSeparatorBox.h"
#include "tavlo/IgnoreDialog.h"
#include "tavlo/InputTerminatorBox.h"
#include "tavlo/WindowDialogs.h"
#include "tavlo/prefs/ConfigStore.h"
#include "tavlo/prefs/PreferencesExceptions.h"
#include "tavlo/util/FriendlyPortUtil.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTabWidget>
#include <QTimer>

using tavlo::config::ConfigHelper;
using tavlo::util::FriendlyPortUtil;

namespace tavlo {

class VudareDiVezFrame2::MathOperandTextFieldUpdate : public ValidatorFieldChecker {
public:
    MathOperandTextFieldUpdate(QLineEdit* field, Host& host, Store store)
        : ValidatorFieldChecker(field, QStringLiteral("error.math.operand"), host, std::move(store),
                                &ConfigHelper::MathOperand::valid) {}

protected:
    QString normalise(const QString& text) const override {
        QString out = text;
        return out.replace(QLatin1Char(','), QLatin1Char('.'));
    }
};

class VudareDiVezFrame2::DecimalTextFieldUpdate : public ValidatorFieldChecker {
public:
    DecimalTextFieldUpdate(QLineEdit* field, Host& host, Store store)
        : ValidatorFieldChecker(field, QStringLiteral("error.decimal.places"), host, std::move(store),
                                &ConfigHelper::DecimalPlaces::valid) {}
};

class VudareDiVezFrame2::EditNumCharactersTextFieldUpdate : public ValidatorFieldChecker {
public:
    EditNumCharactersTextFieldUpdate(QLineEdit* field, Host& host, Store store)
        : ValidatorFieldChecker(field, QStringLiteral("error.edit.numCharacters"), host, std::move(store),
                                &ConfigHelper::EditNumCharacters::valid) {}
};

class VudareDiVezFrame2::EveryXValuesTextFieldUpdate : public ValidatorFieldChecker {
public:
    EveryXValuesTextFieldUpdate(QLineEdit* field, Host& host, Store store)
        : ValidatorFieldChecker(field, QStringLiteral("error.edit.everyXValues"), host, std::move(store),
                                &ConfigHelper::EveryXValues::valid) {}
};

class VudareDiVezFrame2::RemoveCharactersTextFieldUpdate : public ValidatorFieldChecker {
public:
    RemoveCharactersTextFieldUpdate(QLineEdit* field, Host& host, Store store)
        : ValidatorFieldChecker(field, QStringLiteral("error.edit.removeCharacters"), host, std::move(store),
                                &ConfigHelper::RemoveCharacters::valid) {}
};

void VudareDiVezFrame2::installCheckers() {
    config::Config& c = m_config;
    m_checkers = {
        new MathOperandTextFieldUpdate(mathOperandTextField, *this, [&c](const QString& t) { c.setMathOperand(t); }),
        new DecimalTextFieldUpdate(decimalTextField, *this, [&c](const QString& t) { c.setDecimalPlaces(t); }),
        new EditNumCharactersTextFieldUpdate(editNumCharactersTextField, *this,
                                             [&c](const QString& t) { c.setEditNumCharacters(t); }),
        new EveryXValuesTextFieldUpdate(everyXValuesTextField, *this, [&c](const QString& t) { c.setEveryXValues(t); }),
        new RemoveCharactersTextFieldUpdate(removeCharactersTextField, *this,
                                            [&c](const QString& t) { c.setRemoveCharacters(t); }),
    };
}

void VudareDiVezFrame2::connectHandlers() {
    connect(startStopJButton, &QPushButton::clicked, this, &VudareDiVezFrame2::startStopJButtonActionPerformed);
    connect(refreshPortsButton, &QPushButton::clicked, this, &VudareDiVezFrame2::refreshPortsButtonActionPerformed);
    connect(autoButton, &QPushButton::clicked, this, &VudareDiVezFrame2::autoButtonActionPerformed);
    connect(defaultButton, &QPushButton::clicked, this, &VudareDiVezFrame2::defaultButtonActionPerformed);
    connect(customizeButton, &QPushButton::clicked, this, &VudareDiVezFrame2::customizeButtonActionPerformed);
    connect(adjustIgnoreButton, &QPushButton::clicked, this, &VudareDiVezFrame2::adjustIgnoreButtonActionPerformed);
    connect(importSettingsButton, &QPushButton::clicked, this, &VudareDiVezFrame2::importSettingsButtonActionPerformed);
    connect(exportSettingsButton, &QPushButton::clicked, this, &VudareDiVezFrame2::exportSettingsButtonActionPerformed);
    connect(m_tabbedPane, &QTabWidget::currentChanged, this, &VudareDiVezFrame2::tabbedPaneStateChanged);
    // Ctrl+Tab and Ctrl+Shift+Tab change the tab wherever the focus is; a list box that has it would
    // otherwise take the keys for its own search.
    const auto stepTab = [this](int step) {
        const int count = m_tabbedPane->count();
        m_tabbedPane->setCurrentIndex((m_tabbedPane->currentIndex() + step + count) % count);
    };
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this), &QShortcut::activated, this,
            [stepTab] { stepTab(1); });
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), this), &QShortcut::activated, this,
            [stepTab] { stepTab(-1); });
    connect(instrumentBox, &QComboBox::currentIndexChanged, this, &VudareDiVezFrame2::instrumentBoxItemStateChanged);
    connect(mathOperationBox, &QComboBox::currentIndexChanged, this,
            &VudareDiVezFrame2::mathOperationBoxItemStateChanged);
    connect(keyboardTypeBox, &QComboBox::currentIndexChanged, this,
            &VudareDiVezFrame2::keyboardTypeBoxItemStateChanged);
    connect(inputTerminatorBox, &QComboBox::activated, this, &VudareDiVezFrame2::inputTerminatorBoxItemStateChanged);
    connect(inputTerminatorBox->lineEdit(), &QLineEdit::editingFinished, this,
            &VudareDiVezFrame2::inputTerminatorBoxItemStateChanged);
    // Checked when the value is complete (Enter, or the focus leaves): a check per keystroke would object to the
    // "1" of "15" and leave a wrong value behind.
    connect(delayTextField, &QLineEdit::editingFinished, this, &VudareDiVezFrame2::delayTextFieldEditingFinished);

    // The simple choices copy themselves into the record.
    const auto onIndex = [this](QComboBox* box, auto store) {
        connect(box, &QComboBox::currentIndexChanged, this, [this, store](int index) {
            if (!m_filling && !m_closing && index >= 0)
                store(index);
        });
    };
    config::Config& c = m_config;
    onIndex(portList, [this, &c](int i) {
        c.setPort(portList->itemData(i).toString());
        updatePortKind();
    });
    onIndex(bitRateBox, [&c](int i) { c.setBitRate(i); });
    onIndex(dataBitsBox, [&c](int i) { c.setDataBits(i); });
    onIndex(stopBitsBox, [&c](int i) { c.setStopBits(i); });
    onIndex(parityBox, [&c](int i) { c.setParity(i); });
    onIndex(roundingMethodBox, [&c](int i) { c.setRoundingMethod(ConfigHelper::RoundingMethod::fromOrdinal(i)); });
    onIndex(editOperationComboBox, [&c](int i) { c.setEditOperation(ConfigHelper::EditOperation::fromOrdinal(i)); });
    onIndex(editPositionComboBox, [&c](int i) { c.setEditPosition(ConfigHelper::EditPosition::fromOrdinal(i)); });
    onIndex(decimalSeparatorBox,
            [&c](int i) { c.setDecimalSeparator(ConfigHelper::DecimalSeparator::fromOrdinal(i)); });
    onIndex(outputTerminatorBox,
            [&c](int i) { c.setOutputTerminator(ConfigHelper::OutputTerminator::fromOrdinal(i)); });
    onIndex(outputTerminatorBox2,
            [&c](int i) { c.setOutputTerminator2(ConfigHelper::OutputTerminator::fromOrdinal(i)); });
    onIndex(startWithBox, [&c](int i) { c.setStartWith(ConfigHelper::StartWith::fromOrdinal(i)); });
    onIndex(soundComboBox, [&c](int i) { c.setSound(ConfigHelper::Sound::fromOrdinal(i)); });
    const auto onCheck = [this](QAbstractButton* box, auto store) {
        connect(box, &QAbstractButton::toggled, this, [this, store](bool on) {
            if (!m_filling && !m_closing)
                store(on);
        });
    };
    onCheck(ignoreDuplicatesCheckBox, [&c](bool on) { c.ignoreDuplicates = on; });
    onCheck(minimizeToTrayCheckBox, [&c](bool on) { c.minimizeToTray = on; });
    onCheck(notifyWhenMinimizedToTrayCheckBox, [&c](bool on) { c.notifyWhenMinimizedToTray = on; });
    onCheck(checkForUpdatesCheckBox, [&c](bool on) { c.checkForUpdates = on; });
    onCheck(abortAutoStartCheckBox, [&c](bool on) { c.abortAutoStartWhenPrevPortNotAvailable = on; });
    onCheck(autoConnectButton,
            [&c](bool on) { c.setConnect(on ? &ConfigHelper::Connect::AUTO : &ConfigHelper::Connect::MANUAL); });

    connectAdditions();
    for (QWidget* w : findChildren<QWidget*>())
        w->setToolTipDuration(10000);
}

void VudareDiVezFrame2::applyChoicesTo(config::Config& config) const {
    config.setPort(selectedPort());
    if (instrumentBox->currentIndex() >= 0)
        config.setInstrument(ConfigHelper::Instrument::fromOrdinal(instrumentBox->currentIndex()));
    config.setBitRate(bitRateBox->currentIndex());
    config.setDataBits(dataBitsBox->currentIndex());
    config.setStopBits(stopBitsBox->currentIndex());
    config.setParity(parityBox->currentIndex());
    if (const auto code = InputTerminatorBox::selectedCode(*inputTerminatorBox))
        config.setInputTerminator(*code);
    config.setRoundingMethod(ConfigHelper::RoundingMethod::fromOrdinal(roundingMethodBox->currentIndex()));
    config.setEditOperation(ConfigHelper::EditOperation::fromOrdinal(editOperationComboBox->currentIndex()));
    config.setEditPosition(ConfigHelper::EditPosition::fromOrdinal(editPositionComboBox->currentIndex()));
    config.ignoreDuplicates = ignoreDuplicatesCheckBox->isChecked();
    config.setDecimalSeparator(ConfigHelper::DecimalSeparator::fromOrdinal(decimalSeparatorBox->currentIndex()));
    config.setOutputTerminator(ConfigHelper::OutputTerminator::fromOrdinal(outputTerminatorBox->currentIndex()));
    config.setOutputTerminator2(ConfigHelper::OutputTerminator::fromOrdinal(outputTerminatorBox2->currentIndex()));
    config.setStartWith(ConfigHelper::StartWith::fromOrdinal(startWithBox->currentIndex()));
    config.setKeyboardType(ConfigHelper::KeyboardType::fromOrdinal(keyboardTypeBox->currentIndex()));
    config.setSound(ConfigHelper::Sound::fromOrdinal(soundComboBox->currentIndex()));
    config.setConnect(autoConnectButton->isChecked() ? &ConfigHelper::Connect::AUTO : &ConfigHelper::Connect::MANUAL);
    config.stableOnly = stableOnlyCheckBox->isChecked();
}

config::Config VudareDiVezFrame2::settingsInTabs() const {
    config::Config config = config::Config::copyConfig(m_config);
    applyChoicesTo(config);
    applyControlCharactersTo(config);
    // A field being edited counts as soon as its text is valid; an invalid one keeps the setting it had.
    const auto take = [](const QLineEdit* field, bool (*valid)(const QString&), auto set) {
        if (valid(field->text()))
            set(field->text());
    };
    take(mathOperandTextField, &ConfigHelper::MathOperand::valid,
         [&](QString t) { config.setMathOperand(t.replace(u',', u'.')); });
    take(decimalTextField, &ConfigHelper::DecimalPlaces::valid, [&](const QString& t) { config.setDecimalPlaces(t); });
    take(editNumCharactersTextField, &ConfigHelper::EditNumCharacters::valid,
         [&](const QString& t) { config.setEditNumCharacters(t); });
    take(removeCharactersTextField, &ConfigHelper::RemoveCharacters::valid,
         [&](const QString& t) { config.setRemoveCharacters(t); });
    take(everyXValuesTextField, &ConfigHelper::EveryXValues::valid,
         [&](const QString& t) { config.setEveryXValues(t); });
    config.setMathOperation(ConfigHelper::MathOperation::fromOrdinal(mathOperationBox->currentIndex()));
    if (config.getMathOperand().isEmpty())
        config.setMathOperation(&ConfigHelper::MathOperation::NONE);
    return config;
}

void VudareDiVezFrame2::updateConfigFromTabs() {
    if (m_connectedGUI && !m_closing)
        return; // the settings tabs are out of reach while connected, and the running worker has its copy
    applyChoicesTo(m_config);
    const bool hadTray = m_config.minimizeToTray;
    m_config.minimizeToTray = minimizeToTrayCheckBox->isChecked();
    m_config.notifyWhenMinimizedToTray = notifyWhenMinimizedToTrayCheckBox->isChecked();
    m_config.checkForUpdates = checkForUpdatesCheckBox->isChecked();
    m_config.abortAutoStartWhenPrevPortNotAvailable = abortAutoStartCheckBox->isChecked();
    updateAdditionsFromControls();
    updateServicesFromControls();

    // A tab click takes no focus, so a field may never have been left: check each one again.
    for (FieldChecker* checker : m_checkers)
        checker->check();
    if (checkDelay())
        m_config.setDelay(delayTextField->text());

    m_config.setMathOperation(ConfigHelper::MathOperation::fromOrdinal(mathOperationBox->currentIndex()));
    if (m_config.getMathOperation() != &ConfigHelper::MathOperation::NONE && m_config.getMathOperand().isEmpty()) {
        m_config.setMathOperation(&ConfigHelper::MathOperation::NONE);
        const QSignalBlocker blocker(mathOperationBox);
        mathOperationBox->setCurrentIndex(ConfigHelper::MathOperation::NONE.ordinal());
    }
    checkDivisionNeedsRounding();

    if (hadTray && !m_config.minimizeToTray)
        removeMinimizeToTraySupport();
    else if (!hadTray && m_config.minimizeToTray)
        addMinimizeToTraySupport();
}

// The delay: a whole number from 0 to 1000, and at least 3 for the all-layouts keyboard. Run on the complete
// value only; a value that fails is replaced at once (20, or 3 for the floor). True when the field holds a delay
// that may be stored.
bool VudareDiVezFrame2::checkDelay() {
    if (m_filling)
        return false;
    const QString delay = delayTextField->text();
    // While closing, a valid delay is still taken over, but nothing is shown.
    if (m_closing)
        return ConfigHelper::Delay::valid(delay);
    if (!delay.isEmpty() && !ConfigHelper::Delay::valid(delay)) {
        delayTextField->setText(QStringLiteral("20"));
        if (!m_boxOpen)
            error(text("error.intercharacter.delay"));
        return true;
    }
    const auto* keyboard = ConfigHelper::KeyboardType::fromOrdinal(keyboardTypeBox->currentIndex());
    const std::optional<int> ms = ConfigHelper::parseInteger(delay);
    if (keyboard == &ConfigHelper::KeyboardType::ALL && (!ms || *ms < 3)) {
        delayTextField->setText(QStringLiteral("3"));
        if (!m_boxOpen)
            showMessage(text("info"), text("info.delay.keyboard.all"), worker::MessageBoxSeam::Icon::Information);
        return true;
    }
    return true;
}

void VudareDiVezFrame2::delayTextFieldEditingFinished() {
    if (checkDelay())
        m_config.setDelay(delayTextField->text());
}

void VudareDiVezFrame2::keyboardTypeBoxItemStateChanged(int index) {
    if (m_filling || m_closing || index < 0)
        return;
    m_config.setKeyboardType(ConfigHelper::KeyboardType::fromOrdinal(index));
    // The field is not being edited while the box changes: its value is complete.
    if (m_config.getKeyboardType() == &ConfigHelper::KeyboardType::ALL && checkDelay())
        m_config.setDelay(delayTextField->text());
}

void VudareDiVezFrame2::checkDivisionNeedsRounding() {
    if (m_closing || m_mathRoundingErrorWarningDisplayed)
        return;
    if (m_config.getMathOperation() != &ConfigHelper::MathOperation::DIVIDE || !decimalTextField->text().isEmpty())
        return;
    // Shown once at a time: the box itself can make the check run again (a focus change, a tab change).
    m_mathRoundingErrorWarningDisplayed = true;
    QTimer::singleShot(0, this, [this] {
        error(text("please.enter.number.of.decimal.places.for.rounding.or.disable.division"));
        m_mathRoundingErrorWarningDisplayed = false;
    });
}

void VudareDiVezFrame2::mathOperationBoxItemStateChanged(int index) {
    if (m_filling || m_closing || index < 0)
        return;
    m_config.setMathOperation(ConfigHelper::MathOperation::fromOrdinal(index));
    if (m_config.getMathOperation() == &ConfigHelper::MathOperation::NONE) {
        mathOperandTextField->clear();
        m_config.setMathOperand(QString());
    }
    checkDivisionNeedsRounding();
}

void VudareDiVezFrame2::inputTerminatorBoxItemStateChanged() {
    if (m_filling || m_closing)
        return;
    if (const auto code = InputTerminatorBox::selectedCode(*inputTerminatorBox)) {
        m_config.setInputTerminator(*code);
        return;
    }
    error(text("terminator.must.be.between.0.and.255"));
    InputTerminatorBox::setSelectedItem(*inputTerminatorBox, m_config.getInputTerminator());
}

void VudareDiVezFrame2::instrumentBoxItemStateChanged(int index) {
    if (m_filling || m_closing || index < 0)
        return;
    m_config.setInstrument(ConfigHelper::Instrument::fromOrdinal(index));
    if (!m_config.getCustomRegEx().isEmpty() &&
        m_dialogs->ask(QStringLiteral("Confirm"), QStringLiteral("Overwrite custom regular expression?"),
                       WindowDialogs::Buttons::YesNo))
        m_config.setCustomRegEx(QString());
    updateInstrumentKind();
    updateRequestButton();
}

void VudareDiVezFrame2::tabbedPaneStateChanged(int index) {
    QWidget* left = m_currentPage;
    m_currentPage = m_tabbedPane->widget(index);
    m_currentTabIndex = index;
    // On the Start tab, space or Enter presses Start or Stop.
    if (m_currentPage == m_pages[StartTab] && left != m_currentPage) {
        startStopJButton->setFocus(Qt::TabFocusReason);
        updateRequestButton(); // what Start will use, as the tabs now say
    }
    // Decided by the page that was left: while connected the tab row holds fewer tabs, so indexes shift.
    if (left == m_currentPage || m_closing)
        return;
    if (left != m_pages[InputTab] && left != m_pages[ProcessingTab] && left != m_pages[OutputTab] &&
        left != m_pages[ServicesTab] && left != m_pages[AboutTab])
        return;
    updateConfigFromTabs();
    if (!saveNecessary())
        return;
    try {
        saveConfig();
    } catch (const prefs::AccessDeniedException& failure) {
        logImportantEvent(text("autosave.error") + failure.message());
    }
}

void VudareDiVezFrame2::refreshPortsButtonActionPerformed() {
    // A typed address survives the new list.
    if (!m_connectedGUI)
        m_config.setPort(selectedPort());
    try {
        m_portNames = serial::SerialPortLocal::getPortList();
        try {
            FriendlyPortUtil::update();
        } catch (const std::exception&) {
        }
    } catch (const base::TavloException& failure) {
        error(text("error.listing.available.ports") + failure.message());
        return;
    }
    fillPortList();
    if (m_portNames.isEmpty())
        error(text("no.rs.232.port.found.on.your.system.program.will.now.exit"));
    else
        m_config.setPort(portList->currentData().toString());
}

void VudareDiVezFrame2::autoButtonActionPerformed() {
    auto* dialog = new AutoPortDialog(this, portList, m_portNames);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setModal(true);
    dialog->show();
}

void VudareDiVezFrame2::defaultButtonActionPerformed() {
    const auto* instrument = ConfigHelper::Instrument::fromOrdinal(instrumentBox->currentIndex());
    if (!instrument)
        return;
    if (const auto message = instrument->getDefaultMessage())
        showMessage(text("Info"), *message, worker::MessageBoxSeam::Icon::Information);
    const config::Config defaults = instrument->getDefaultConfig();
    m_config.setBitRate(defaults.getBitRate());
    m_config.setDataBits(defaults.getDataBits());
    m_config.setStopBits(defaults.getStopBits());
    m_config.setParity(defaults.getParity());
    m_config.setInputTerminator(defaults.getInputTerminator());
    const bool wasFilling = m_filling;
    m_filling = true;
    bitRateBox->setCurrentIndex(defaults.getBitRate());
    dataBitsBox->setCurrentIndex(defaults.getDataBits());
    stopBitsBox->setCurrentIndex(defaults.getStopBits());
    parityBox->setCurrentIndex(defaults.getParity());
    InputTerminatorBox::setSelectedItem(*inputTerminatorBox, defaults.getInputTerminator());
    m_filling = wasFilling;
}

void VudareDiVezFrame2::customizeButtonActionPerformed() {
    const auto* instrument = ConfigHelper::Instrument::fromOrdinal(instrumentBox->currentIndex());
    const QString start = !m_config.getCustomRegEx().isEmpty() ? m_config.getCustomRegEx()
                          : instrument                         ? instrument->getPattern()
                                                               : QString();
    CustomRegExDialog dialog(this, start, *m_dialogs);
    dialog.exec();
    if (dialog.getRegEx() != start)
        m_config.setCustomRegEx(dialog.getRegEx());
}

void VudareDiVezFrame2::adjustIgnoreButtonActionPerformed() {
    IgnoreDialog dialog(this, m_config.getIgnoreTimeLimit(), m_config.getIgnoreDifference(), *m_dialogs);
    dialog.exec();
    m_config.setIgnoreTimeLimit(dialog.getIgnoreTimeLimit());
    m_config.setIgnoreDifference(dialog.getIgnoreDifference());
}

namespace {
const QString kSettingsFileFilter = QStringLiteral("XML settings files (*.xml);;All files (*)");
} // namespace

void VudareDiVezFrame2::exportSettingsButtonActionPerformed() {
    const auto path =
        m_dialogs->chooseSaveFile(QStringLiteral("Export settings"), QStringLiteral("Tavlo.xml"), kSettingsFileFilter);
    if (!path)
        return;
    try {
        if (QFileInfo::exists(*path) &&
            !m_dialogs->ask(text("overwrite"), text("file.already.exists.overwrite"), WindowDialogs::Buttons::OkCancel))
            throw base::UserCancelException(text("cancelled.by.user"));
        updateConfigFromTabs();
        m_store->exportSettings(m_config, *path);
        showMessage(text("export.successful"), text("configuration.exported.to.file.n") + *path,
                    worker::MessageBoxSeam::Icon::Information);
    } catch (const base::TavloException& failure) {
        error(text("export.failed") + failure.message());
    }
}

void VudareDiVezFrame2::importSettingsButtonActionPerformed() {
    const auto path = m_dialogs->chooseOpenFile(QStringLiteral("Import settings"), kSettingsFileFilter);
    if (!path)
        return;
    try {
        m_store->importSettings(*path);
    } catch (const base::TavloException& failure) {
        error(QStringLiteral("Import failed\n") + failure.message());
        return;
    }
    if (m_dialogs->ask(QStringLiteral("Restart required"), QStringLiteral("Apply imported configuration and exit?"),
                       WindowDialogs::Buttons::OkCancel))
        exitProgram(4); // without saving, so that the next start reads the imported values
}

} // namespace tavlo
