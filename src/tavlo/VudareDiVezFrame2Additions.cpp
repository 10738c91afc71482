// The window's controls for stable values only, the data log, network instruments and typing on or off.
#include "tavlo/VudareDiVezFrame2.h"

#include "base/ResourceBundle.h"
#include "config/Instrument.h"
#include "tavlo/WindowDialogs.h"
#include "tavlo/util/FriendlyPortUtil.h"
#include "worker/TcpByteSource.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

namespace tavlo {

using config::ConfigHelper;
using util::FriendlyPortUtil;

QWidget* VudareDiVezFrame2::buildStableOnlyRow(QWidget* page) {
    stableOnlyCheckBox = new QCheckBox(text("VudareDiVezFrame2.stableOnlyCheckBox.text"), page);
    return stableOnlyCheckBox;
}

QWidget* VudareDiVezFrame2::buildTypeValuesRow(QWidget* page) {
    typeValuesCheckBox = new QCheckBox(QStringLiteral("Type values"), page);
    typeValuesCheckBox->setToolTip(QStringLiteral("Off: the readings are only logged and served (data log, reading "
                                                  "service); nothing is typed and no keyboard output is started"));
    return typeValuesCheckBox;
}

void VudareDiVezFrame2::updateTypingControls() {
    const bool typing = typeValuesCheckBox->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{startWithBox, outputTerminatorBox, outputTerminatorBox2,
                                                      everyXValuesTextField, keyboardTypeBox, delayTextField})
        w->setEnabled(typing);
}

QWidget* VudareDiVezFrame2::buildDataLogRow(QWidget* page) {
    auto* box = new QWidget(page);
    dataLogCheckBox = new QCheckBox(text("VudareDiVezFrame2.dataLogCheckBox.text"), box);
    dataLogPathField = new QLineEdit(box);
    dataLogPathField->setPlaceholderText(text("VudareDiVezFrame2.dataLogPathField.placeholder"));
    dataLogBrowseButton = new QPushButton(text("VudareDiVezFrame2.dataLogBrowseButton.text"), box);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(dataLogCheckBox);
    layout->addWidget(dataLogPathField, 1);
    layout->addWidget(dataLogBrowseButton);
    return box;
}

void VudareDiVezFrame2::connectAdditions() {
    connectControlCharacters();
    // An instrument on the network is typed in as tcp://HOST:PORT; the system lists only serial ports.
    portList->setEditable(true);
    portList->setInsertPolicy(QComboBox::NoInsert);
    connect(portList->lineEdit(), &QLineEdit::textEdited, this, [this] {
        if (m_filling || m_closing)
            return;
        m_config.setPort(selectedPort());
        updatePortKind();
    });
    connect(stableOnlyCheckBox, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_filling && !m_closing)
            m_config.stableOnly = on;
    });
    connect(typeValuesCheckBox, &QCheckBox::toggled, this, [this](bool on) {
        updateTypingControls();
        if (!m_filling && !m_closing)
            m_config.typeValues = on;
    });
    const auto storeDataLog = [this] {
        if (m_filling || m_closing)
            return;
        const QString path = dataLogPathField->text().trimmed();
        m_config.setDataLogFile(dataLogCheckBox->isChecked() ? path : QString());
    };
    connect(dataLogCheckBox, &QCheckBox::toggled, this, storeDataLog);
    connect(dataLogPathField, &QLineEdit::editingFinished, this, storeDataLog);
    connect(dataLogBrowseButton, &QPushButton::clicked, this, [this, storeDataLog] {
        const QString current = dataLogPathField->text().trimmed();
        const auto chosen = m_dialogs->chooseSaveFile(QStringLiteral("Data log file"),
                                                      current.isEmpty() ? QStringLiteral("tavlo-data.csv") : current,
                                                      QStringLiteral("CSV files (*.csv);;All files (*)"));
        if (!chosen)
            return;
        dataLogPathField->setText(*chosen);
        dataLogCheckBox->setChecked(true);
        storeDataLog();
    });
}

void VudareDiVezFrame2::showAdditionsInControls() {
    showControlCharactersInControls();
    stableOnlyCheckBox->setChecked(m_config.stableOnly);
    typeValuesCheckBox->setChecked(m_config.typeValues);
    updateTypingControls();
    dataLogCheckBox->setChecked(!m_config.getDataLogFile().isEmpty());
    if (!m_config.getDataLogFile().isEmpty())
        dataLogPathField->setText(m_config.getDataLogFile());
    updatePortKind();
}

void VudareDiVezFrame2::updateAdditionsFromControls() {
    applyControlCharactersTo(m_config);
    m_config.stableOnly = stableOnlyCheckBox->isChecked();
    m_config.typeValues = typeValuesCheckBox->isChecked();
    const QString path = dataLogPathField->text().trimmed();
    m_config.setDataLogFile(dataLogCheckBox->isChecked() ? path : QString());
}

void VudareDiVezFrame2::updateStableOnlyBox() {
    const auto* instrument =
        m_config.getInstrument() ? m_config.getInstrument() : ConfigHelper::Instrument::getDefault();
    const bool rule = instrument->hasStabilityRule();
    stableOnlyCheckBox->setEnabled(rule);
    stableOnlyCheckBox->setToolTip(
        rule ? text("VudareDiVezFrame2.stableOnlyCheckBox.toolTip")
             : m_resourceBundle.format(QStringLiteral("VudareDiVezFrame2.stableOnlyCheckBox.noRule"),
                                       {instrument->toString()}));
}

void VudareDiVezFrame2::updatePortKind() {
    const bool serial = !worker::TcpByteSource::isNetworkAddress(selectedPort());
    for (QWidget* w : std::initializer_list<QWidget*>{bitRateBox, dataBitsBox, stopBitsBox, parityBox}) {
        w->setEnabled(serial);
        w->setToolTip(serial ? QString() : text("VudareDiVezFrame2.networkPort.toolTip"));
    }
}

QString VudareDiVezFrame2::selectedPort() const {
    const QString shown = portList->currentText().trimmed();
    const int index = portList->currentIndex();
    if (index >= 0 && portList->itemText(index) == shown)
        return portList->itemData(index).toString();
    return FriendlyPortUtil::getUnfriendlyPortName(shown);
}

} // namespace tavlo
