// The tabs of the main window: building the controls and showing the settings record in them.
#include "tavlo/VudareDiVezFrame2.h"

#include "base/ResourceBundle.h"
#include "base/SystemProperties.h"
#include "config/Instrument.h"
#include "tavlo/DecimalSeparatorBox.h"
#include "tavlo/EventLog.h"
#include "tavlo/InputTerminatorBox.h"
#include "tavlo/JLabelHtml.h"
#include "tavlo/LinkMouseListener.h"
#include "tavlo/PreviewPanel.h"
#include "tavlo/ReadingPanel.h"
#include "tavlo/TraySupport.h"
#include "tavlo/util/FriendlyPortUtil.h"
#include "tavlo/util/ProductSite.h"
#include "worker/TcpByteSource.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTextBrowser>
#include <QToolTip>
#include <QVBoxLayout>

using tavlo::base::SystemProperties;
using tavlo::config::ConfigHelper;
using tavlo::util::FriendlyPortUtil;

namespace tavlo {

namespace {

template <typename T> QComboBox* optionBox(QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->addItems(T::labels());
    return box;
}

QHBoxLayout* row(std::initializer_list<QWidget*> widgets) {
    auto* layout = new QHBoxLayout;
    for (QWidget* w : widgets)
        layout->addWidget(w);
    layout->addStretch();
    return layout;
}

} // namespace

void VudareDiVezFrame2::buildControls() {
    m_filling = true;
    m_tabbedPane = new QTabWidget(this);
    m_pages = {buildStartTab(),    buildInputTab(), buildProcessingTab(), buildOutputTab(), buildSettingsTab(),
               buildServicesTab(), nullptr,         buildAboutTab()};
    m_eventLog = new EventLog(this);
    m_pages[EventLogTab] = m_eventLog;
    m_pageTitles = {
        text("VudareDiVezFrame2.panel1.tab.title"),          text("VudareDiVezFrame2.inputPanel.tab.title"),
        text("VudareDiVezFrame2.processingPanel.tab.title"), text("VudareDiVezFrame2.outputPanel.tab.title"),
        text("VudareDiVezFrame2.settingsPanel.tab.title"),   text("VudareDiVezFrame2.servicesPanel.tab.title"),
        text("VudareDiVezFrame2.eventLogPanel.tab.title"),   text("VudareDiVezFrame2.aboutPanel.tab.title")};
    for (int i = 0; i < m_pages.size(); ++i)
        m_tabbedPane->addTab(m_pages[i], m_pageTitles[i]);
    m_currentPage = m_pages[StartTab];

    m_statusJLabel = new JLabelHtml(text("VudareDiVezFrame2.statusJLabel.text"), this);
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(m_tabbedPane, 1);
    layout->addWidget(m_statusJLabel);
    setCentralWidget(central);

    showConfigInControls();
    installCheckers();
    connectHandlers();
    connectPreview();
    updateTrayControls();
    m_filling = false;
}

QWidget* VudareDiVezFrame2::buildStartTab() {
    auto* page = new QWidget(this);
    startStopJButton = new QPushButton(text("VudareDiVezFrame2.startStopJButton.text"), page);
    startStopJButton->setMinimumSize(160, 48);
    readingPanel = new ReadingPanel(page);
    requestButton = readingPanel->button(config::InstrumentCommand::Request);
    tareButton = readingPanel->button(config::InstrumentCommand::Tare);
    zeroButton = readingPanel->button(config::InstrumentCommand::Zero);
    startHintLabel = new QLabel(text("VudareDiVezFrame2.startHint.text"), page);
    startHintLabel->setWordWrap(true);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(row({startStopJButton, readingPanel->commandRow()}));
    layout->addWidget(startHintLabel);
    layout->addWidget(readingPanel, 1);
    return page;
}

QWidget* VudareDiVezFrame2::buildInputTab() {
    auto* page = new QWidget(this);
    portList = new QComboBox(page);
    portList->setMinimumContentsLength(24);
    refreshPortsButton = new QPushButton(text("VudareDiVezFrame2.refreshPortsButton.text"), page);
    autoButton = new QPushButton(text("VudareDiVezFrame2.autoButton.text"), page);
    instrumentBox = optionBox<ConfigHelper::Instrument>(page);
    defaultButton = new QPushButton(text("VudareDiVezFrame2.defaultButton.text"), page);
    customizeButton = new QPushButton(text("VudareDiVezFrame2.customizeButton.text"), page);
    bitRateBox = optionBox<ConfigHelper::BitRates>(page);
    dataBitsBox = optionBox<ConfigHelper::DataBits>(page);
    stopBitsBox = optionBox<ConfigHelper::StopBits>(page);
    parityBox = optionBox<ConfigHelper::Parity>(page);
    inputTerminatorBox = new QComboBox(page);
    InputTerminatorBox::fill(*inputTerminatorBox);
    fillPortList();

    auto* form = new QFormLayout(page);
    form->addRow(text("VudareDiVezFrame2.portLabel.text"), row({portList, refreshPortsButton, autoButton}));
    form->addRow(text("VudareDiVezFrame2.deviceLabel.text"), row({instrumentBox, defaultButton, customizeButton}));
    form->addRow(text("VudareDiVezFrame2.bitRateLabel.text"), bitRateBox);
    form->addRow(text("VudareDiVezFrame2.dataBitsLabel.text"), dataBitsBox);
    form->addRow(text("VudareDiVezFrame2.stopBitsLabel.text"), stopBitsBox);
    form->addRow(text("VudareDiVezFrame2.parityLabel.text"), parityBox);
    form->addRow(text("VudareDiVezFrame2.inputTerminatorLabel.text"), inputTerminatorBox);
    form->addRow(text("VudareDiVezFrame2.replaceControlCharactersLabel.text"), buildControlCharactersRow(page));
    return page;
}

QWidget* VudareDiVezFrame2::buildProcessingTab() {
    auto* page = new QWidget(this);
    mathOperationBox = optionBox<ConfigHelper::MathOperation>(page);
    mathOperandTextField = new QLineEdit(page);
    decimalTextField = new QLineEdit(page);
    roundingMethodBox = optionBox<ConfigHelper::RoundingMethod>(page);
    editOperationComboBox = optionBox<ConfigHelper::EditOperation>(page);
    editPositionComboBox = optionBox<ConfigHelper::EditPosition>(page);
    editNumCharactersTextField = new QLineEdit(page);
    removeCharactersTextField = new QLineEdit(page);
    ignoreDuplicatesCheckBox = new QCheckBox(text("VudareDiVezFrame2.ignoreDuplicatesCheckBox.text"), page);
    adjustIgnoreButton = new QPushButton(text("VudareDiVezFrame2.adjustIgnoreButton.text"), page);
    for (QLineEdit* field : {mathOperandTextField, decimalTextField, editNumCharactersTextField})
        field->setMaximumWidth(90);
    roundingMethodLabel = new QLabel(text("VudareDiVezFrame2.roundingMethodLabel.text"), page);
    roundingMethodLabel->setBuddy(roundingMethodBox);
    // The edit row's field counts characters; say so beside it and inside it.
    auto* charactersHint = new QLabel(QStringLiteral("characters (1 to 99)"), page);
    editNumCharactersTextField->setPlaceholderText(QStringLiteral("number"));
    editNumCharactersTextField->setToolTip(QStringLiteral("How many characters to remove or keep"));
    previewPanel = new PreviewPanel([this] { return settingsInTabs(); }, page);

    auto* form = new QFormLayout(page);
    form->addRow(text("VudareDiVezFrame2.mathOperationLabel.text"), row({mathOperationBox, mathOperandTextField}));
    form->addRow(text("VudareDiVezFrame2.decimalLabel.text"),
                 row({decimalTextField, roundingMethodLabel, roundingMethodBox}));
    form->addRow(text("VudareDiVezFrame2.editLabel.text"),
                 row({editOperationComboBox, editPositionComboBox, editNumCharactersTextField, charactersHint}));
    form->addRow(text("VudareDiVezFrame2.removeCharactersLabel.text"), removeCharactersTextField);
    form->addRow(QString(), row({ignoreDuplicatesCheckBox, adjustIgnoreButton}));
    form->addRow(QString(), buildStableOnlyRow(page));
    form->addRow(previewPanel);
    return page;
}

QWidget* VudareDiVezFrame2::buildOutputTab() {
    auto* page = new QWidget(this);
    decimalSeparatorBox = new DecimalSeparatorBox(m_config, page);
    outputTerminatorBox = optionBox<ConfigHelper::OutputTerminator>(page);
    outputTerminatorBox2 = optionBox<ConfigHelper::OutputTerminator>(page);
    everyXValuesTextField = new QLineEdit(page);
    everyXValuesTextField->setMaximumWidth(60);
    startWithBox = optionBox<ConfigHelper::StartWith>(page);
    keyboardTypeBox = optionBox<ConfigHelper::KeyboardType>(page);
    delayTextField = new QLineEdit(page);
    delayTextField->setMaximumWidth(60);
    soundComboBox = optionBox<ConfigHelper::Sound>(page);

    auto* form = new QFormLayout(page);
    form->addRow(QString(), buildTypeValuesRow(page));
    form->addRow(text("VudareDiVezFrame2.decimalSeparatorLabel.text"), decimalSeparatorBox);
    form->addRow(text("VudareDiVezFrame2.startWithLabel.text"), startWithBox);
    form->addRow(text("VudareDiVezFrame2.outputTerminatorLabel.text"), outputTerminatorBox);
    auto* everyX = new QLabel(text("VudareDiVezFrame2.everyXValuesLabel.text"), page);
    form->addRow(text("VudareDiVezFrame2.outputTerminator2Label.text"),
                 row({outputTerminatorBox2, everyX, everyXValuesTextField}));
    form->addRow(text("VudareDiVezFrame2.keyboardTypeLabel.text"), keyboardTypeBox);
    form->addRow(text("VudareDiVezFrame2.delayLabel.text"), delayTextField);
    form->addRow(text("VudareDiVezFrame2.soundLabel.text"), soundComboBox);
    form->addRow(text("VudareDiVezFrame2.dataLogLabel.text"), buildDataLogRow(page));
    form->addRow(text("VudareDiVezFrame2.requestHotkeyLabel.text"), buildHotkeyRow(page));
    return page;
}

QWidget* VudareDiVezFrame2::buildSettingsTab() {
    auto* page = new QWidget(this);
    manualConnectButton = new QRadioButton(text("VudareDiVezFrame2.manualConnectButton.text"), page);
    autoConnectButton = new QRadioButton(text("VudareDiVezFrame2.autoConnectButton.text"), page);
    auto* group = new QButtonGroup(page);
    group->addButton(manualConnectButton);
    group->addButton(autoConnectButton);
    minimizeToTrayCheckBox = new QCheckBox(text("VudareDiVezFrame2.minimizeToTrayCheckBox.text"), page);
    notifyWhenMinimizedToTrayCheckBox =
        new QCheckBox(text("VudareDiVezFrame2.notifyWhenMinimizedToTrayCheckBox.text"), page);
    checkForUpdatesCheckBox = new QCheckBox(text("VudareDiVezFrame2.checkForUpdatesCheckBox.text"), page);
    abortAutoStartCheckBox = new QCheckBox(text("VudareDiVezFrame2.abortAutoStartCheckBox.text"), page);
    importSettingsButton = new QPushButton(text("VudareDiVezFrame2.importSettingsButton.text"), page);
    exportSettingsButton = new QPushButton(text("VudareDiVezFrame2.exportSettingsButton.text"), page);
    auto* layout = new QVBoxLayout(page);
    for (QWidget* w : std::initializer_list<QWidget*>{manualConnectButton, autoConnectButton, abortAutoStartCheckBox,
                                                      minimizeToTrayCheckBox, notifyWhenMinimizedToTrayCheckBox,
                                                      checkForUpdatesCheckBox})
        layout->addWidget(w);
    layout->addLayout(row({importSettingsButton, exportSettingsButton}));
    layout->addStretch();
    return page;
}

QWidget* VudareDiVezFrame2::buildAboutTab() {
    aboutPane = new QTextBrowser(this);
    aboutPane->setOpenLinks(false);
    QString about = m_resourceBundle.format(QStringLiteral("VudareDiVezFrame2.aboutPane.text"),
                                            {util::ProductSite::downloadAddress()});
    about.remove(QStringLiteral("</html>"));
    const QString edition = SystemProperties::get(QStringLiteral("EDITION"), QString());
    QString version =
        QStringLiteral("Version ") + SystemProperties::get(QStringLiteral("VERSION"), QString()) + QStringLiteral(" ");
    if (edition == QLatin1String("QX"))
        version += edition + QStringLiteral(" ");
    version += QLocale().name().section(QLatin1Char('_'), 0, 0) + QStringLiteral(" ") +
               SystemProperties::get(QStringLiteral("TSP_OSNAME"), QString()) + QStringLiteral(" ") +
               SystemProperties::get(QStringLiteral("TSP_OSARCH"), QString());
    aboutPane->setHtml(about + QStringLiteral("<br>") + version.toHtmlEscaped() + QStringLiteral("</html>"));
    connect(aboutPane, &QTextBrowser::anchorClicked, this, [](const QUrl& url) { openHyperlink(url.toString()); });
    return aboutPane;
}

// Every control of the tabs that shape a record's way refreshes the preview, so that it always shows what the
// settings in the tabs would do.
void VudareDiVezFrame2::connectPreview() {
    const auto refresh = [this] {
        if (m_filling)
            return;
        const auto* instrument = ConfigHelper::Instrument::fromOrdinal(instrumentBox->currentIndex());
        previewPanel->setInstrument(instrument ? instrument : ConfigHelper::Instrument::getDefault());
        previewPanel->refresh();
    };
    for (int tab : {InputTab, ProcessingTab, OutputTab}) {
        for (QComboBox* box : m_pages[tab]->findChildren<QComboBox*>())
            if (!previewPanel->isAncestorOf(box)) {
                connect(box, &QComboBox::currentIndexChanged, this, refresh);
                connect(box, &QComboBox::editTextChanged, this, refresh);
            }
        for (QLineEdit* field : m_pages[tab]->findChildren<QLineEdit*>())
            if (!previewPanel->isAncestorOf(field) && !qobject_cast<QComboBox*>(field->parent()))
                connect(field, &QLineEdit::textChanged, this, refresh);
        for (QCheckBox* box : m_pages[tab]->findChildren<QCheckBox*>())
            connect(box, &QCheckBox::toggled, this, refresh);
    }
    const bool wasFilling = m_filling;
    m_filling = false;
    refresh();
    m_filling = wasFilling;
}

void VudareDiVezFrame2::fillPortList() {
    const QSignalBlocker blocker(portList);
    portList->clear();
    for (const QString& name : m_portNames)
        portList->addItem(FriendlyPortUtil::getFriendlyPortName(name), name);
    // A network address is never listed by the system; the one in use stays in the box.
    if (worker::TcpByteSource::isNetworkAddress(m_config.getPort()) && portList->findData(m_config.getPort()) < 0)
        portList->addItem(m_config.getPort(), m_config.getPort());
    const int index = portList->findData(m_config.getPort());
    portList->setCurrentIndex(index >= 0 ? index : (portList->count() > 0 ? 0 : -1));
}

// Puts every setting of the record into its control without running the controls' handlers.
void VudareDiVezFrame2::showConfigInControls() {
    const bool wasFilling = m_filling;
    m_filling = true;
    const auto ordinal = [](const auto* option) { return option ? option->ordinal() : 0; };
    fillPortList();
    instrumentBox->setCurrentIndex(ordinal(m_config.getInstrument()));
    bitRateBox->setCurrentIndex(m_config.getBitRate());
    dataBitsBox->setCurrentIndex(m_config.getDataBits());
    stopBitsBox->setCurrentIndex(m_config.getStopBits());
    parityBox->setCurrentIndex(m_config.getParity());
    InputTerminatorBox::setSelectedItem(*inputTerminatorBox, m_config.getInputTerminator());
    mathOperationBox->setCurrentIndex(ordinal(m_config.getMathOperation()));
    mathOperandTextField->setText(m_config.getMathOperand());
    decimalTextField->setText(m_config.getDecimalPlaces());
    roundingMethodBox->setCurrentIndex(ordinal(m_config.getRoundingMethod()));
    editOperationComboBox->setCurrentIndex(ordinal(m_config.getEditOperation()));
    editPositionComboBox->setCurrentIndex(ordinal(m_config.getEditPosition()));
    editNumCharactersTextField->setText(m_config.getEditNumCharacters());
    removeCharactersTextField->setText(m_config.getRemoveCharacters());
    ignoreDuplicatesCheckBox->setChecked(m_config.ignoreDuplicates);
    decimalSeparatorBox->setCurrentIndex(ordinal(m_config.getDecimalSeparator()));
    outputTerminatorBox->setCurrentIndex(ordinal(m_config.getOutputTerminator()));
    outputTerminatorBox2->setCurrentIndex(ordinal(m_config.getOutputTerminator2()));
    everyXValuesTextField->setText(m_config.getEveryXValues());
    startWithBox->setCurrentIndex(ordinal(m_config.getStartWith()));
    keyboardTypeBox->setCurrentIndex(ordinal(m_config.getKeyboardType()));
    delayTextField->setText(m_config.getDelay());
    soundComboBox->setCurrentIndex(ordinal(m_config.getSound()));
    autoConnectButton->setChecked(m_config.getConnect() == &ConfigHelper::Connect::AUTO);
    manualConnectButton->setChecked(m_config.getConnect() != &ConfigHelper::Connect::AUTO);
    minimizeToTrayCheckBox->setChecked(m_config.minimizeToTray);
    notifyWhenMinimizedToTrayCheckBox->setChecked(m_config.notifyWhenMinimizedToTray);
    checkForUpdatesCheckBox->setChecked(m_config.checkForUpdates);
    abortAutoStartCheckBox->setChecked(m_config.abortAutoStartWhenPrevPortNotAvailable);
    showAdditionsInControls();
    showServicesInControls();
    showBenchInControls();
    updateInstrumentKind();
    updateRequestButton();
    m_filling = wasFilling;
    if (previewPanel && !m_filling) {
        previewPanel->setInstrument(m_config.getInstrument() ? m_config.getInstrument()
                                                             : ConfigHelper::Instrument::getDefault());
        previewPanel->refresh();
    }
}

// The number-only controls follow the instrument kind; the separator box listens to the record itself.
void VudareDiVezFrame2::updateInstrumentKind() {
    const auto* instrument =
        m_config.getInstrument() ? m_config.getInstrument() : ConfigHelper::Instrument::getDefault();
    const bool number = instrument->getInstrumentType() == ConfigHelper::InstrumentType::NUMBER;
    for (QWidget* w : std::initializer_list<QWidget*>{mathOperationBox, mathOperandTextField, decimalTextField,
                                                      roundingMethodBox, decimalSeparatorBox})
        w->setEnabled(number);
    updateStableOnlyBox();
}

void VudareDiVezFrame2::updateTrayControls() {
    if (TraySupport::available())
        return;
    const QString why = text("tray.unavailable");
    for (QCheckBox* box : {minimizeToTrayCheckBox, notifyWhenMinimizedToTrayCheckBox}) {
        box->setEnabled(false);
        box->setToolTip(why);
    }
}

} // namespace tavlo
