// The Services tab's MQTT group: the broker, the topic, the quality of service, the credentials, the CA file,
// commands from the broker and the bound of the backlog.
#include "tavlo/VudareDiVezFrame2.h"

#include "output/MqttSettings.h"
#include "tavlo/WindowDialogs.h"
#include "worker/Acquisition.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

namespace tavlo {

namespace {

// A line field with a Browse button that picks a file to read.
QWidget* fileRow(QWidget* parent, QLineEdit* field, QPushButton* browse) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(field, 1);
    layout->addWidget(browse);
    return row;
}

} // namespace

QWidget* VudareDiVezFrame2::buildMqttGroup(QWidget* page) {
    auto* group = new QGroupBox(QStringLiteral("MQTT"), page);
    mqttBrokerField = new QLineEdit(group);
    mqttBrokerField->setObjectName(QStringLiteral("mqttBroker"));
    mqttBrokerField->setPlaceholderText(QStringLiteral("tcp://broker.example.com:1883 (empty: off)"));
    mqttBrokerField->setToolTip(QStringLiteral(
        "Every reading is published to this broker while Tavlo runs: tcp://HOST:PORT, or ssl://HOST:PORT for "
        "TLS. Readings that cannot be sent are kept on disk and sent in order once the broker is back."));
    mqttTopicField = new QLineEdit(group);
    mqttTopicField->setObjectName(QStringLiteral("mqttTopic"));
    mqttTopicField->setPlaceholderText(QString::fromLatin1(output::MqttSettings::kDefaultTopic));
    mqttTopicField->setToolTip(QStringLiteral("The topic of the readings; {station} is the station's name"));
    mqttQosBox = new QComboBox(group);
    mqttQosBox->setObjectName(QStringLiteral("mqttQos"));
    mqttQosBox->addItems({QStringLiteral("0: at most once (a reading may be lost)"),
                          QStringLiteral("1: at least once (no reading lost; one may come twice)"),
                          QStringLiteral("2: exactly once")});
    mqttUserField = new QLineEdit(group);
    mqttUserField->setObjectName(QStringLiteral("mqttUser"));
    mqttPasswordFileField = new QLineEdit(group);
    mqttPasswordFileField->setObjectName(QStringLiteral("mqttPasswordFile"));
    mqttPasswordFileField->setToolTip(QStringLiteral(
        "A file whose first line is the password. Tavlo keeps only the file's name, never the password."));
    auto* passwordBrowse = new QPushButton(QStringLiteral("Browse..."), group);
    mqttCaFileField = new QLineEdit(group);
    mqttCaFileField->setObjectName(QStringLiteral("mqttCaFile"));
    mqttCaFileField->setPlaceholderText(QStringLiteral("the system's certificates"));
    mqttCaFileField->setToolTip(
        QStringLiteral("For ssl:// brokers: the certificates (PEM) of the authority that signed the broker's"));
    auto* caBrowse = new QPushButton(QStringLiteral("Browse..."), group);
    mqttCommandsCheckBox = new QCheckBox(QStringLiteral("Take request, tare and zero from the broker"), group);
    mqttCommandsCheckBox->setObjectName(QStringLiteral("mqttCommands"));
    mqttCommandsCheckBox->setToolTip(QStringLiteral(
        "Commands published to tavlo/STATION/command are sent to the instrument like the Request, Tare and Zero "
        "buttons"));
    mqttBacklogBox = new QSpinBox(group);
    mqttBacklogBox->setObjectName(QStringLiteral("mqttBacklog"));
    mqttBacklogBox->setRange(1, 100000000);
    mqttBacklogBox->setGroupSeparatorShown(true);
    mqttBacklogBox->setSuffix(QStringLiteral(" readings"));
    mqttBacklogBox->setToolTip(QStringLiteral(
        "Readings kept while the broker is away at most; beyond it the oldest are dropped, and the log says how "
        "many"));
    mqttHintLabel = new QLabel(group);
    mqttHintLabel->setWordWrap(true);
    mqttHintLabel->setTextFormat(Qt::PlainText);

    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("&Broker:"), mqttBrokerField);
    form->addRow(QStringLiteral("&Topic:"), mqttTopicField);
    form->addRow(QStringLiteral("&Quality of service:"), mqttQosBox);
    form->addRow(QStringLiteral("&User:"), mqttUserField);
    form->addRow(QStringLiteral("Pass&word file:"), fileRow(group, mqttPasswordFileField, passwordBrowse));
    form->addRow(QStringLiteral("C&A file:"), fileRow(group, mqttCaFileField, caBrowse));
    form->addRow(QStringLiteral("Bac&klog:"), mqttBacklogBox);
    form->addRow(mqttCommandsCheckBox);
    form->addRow(mqttHintLabel);

    const auto store = [this] {
        if (m_filling || m_closing)
            return;
        updateMqttFromControls();
        showMqttHint();
    };
    for (QLineEdit* field : {mqttBrokerField, mqttTopicField, mqttUserField, mqttPasswordFileField, mqttCaFileField})
        connect(field, &QLineEdit::editingFinished, this, store);
    connect(mqttQosBox, &QComboBox::currentIndexChanged, this, store);
    connect(mqttBacklogBox, &QSpinBox::valueChanged, this, store);
    connect(mqttCommandsCheckBox, &QCheckBox::toggled, this, store);
    connect(passwordBrowse, &QPushButton::clicked, this, [this, store] {
        if (const auto chosen =
                m_dialogs->chooseOpenFile(QStringLiteral("MQTT password file"), QStringLiteral("All files (*)"))) {
            mqttPasswordFileField->setText(*chosen);
            store();
        }
    });
    connect(caBrowse, &QPushButton::clicked, this, [this, store] {
        if (const auto chosen =
                m_dialogs->chooseOpenFile(QStringLiteral("MQTT CA certificates"),
                                          QStringLiteral("PEM certificates (*.pem *.crt);;All files (*)"))) {
            mqttCaFileField->setText(*chosen);
            store();
        }
    });
    return group;
}

void VudareDiVezFrame2::showMqttInControls() {
    mqttBrokerField->setText(m_config.mqttBroker);
    mqttTopicField->setText(m_config.mqttTopic);
    mqttQosBox->setCurrentIndex(std::clamp(m_config.mqttQos, 0, 2));
    mqttUserField->setText(m_config.mqttUser);
    mqttPasswordFileField->setText(m_config.mqttPasswordFile);
    mqttCaFileField->setText(m_config.mqttCaFile);
    mqttCommandsCheckBox->setChecked(m_config.mqttCommands);
    mqttBacklogBox->setValue(m_config.mqttBacklog);
    showMqttHint();
}

void VudareDiVezFrame2::updateMqttFromControls() {
    m_config.mqttBroker = mqttBrokerField->text().trimmed();
    m_config.mqttTopic = mqttTopicField->text().trimmed();
    m_config.mqttQos = mqttQosBox->currentIndex();
    m_config.mqttUser = mqttUserField->text().trimmed();
    m_config.mqttPasswordFile = mqttPasswordFileField->text().trimmed();
    m_config.mqttCaFile = mqttCaFileField->text().trimmed();
    m_config.mqttCommands = mqttCommandsCheckBox->isChecked();
    m_config.mqttBacklog = mqttBacklogBox->value();
}

void VudareDiVezFrame2::showMqttHint() {
    // What Start would say about these settings, said now; nothing is connected or read from the broker here.
    if (m_config.mqttBroker.isEmpty()) {
        mqttHintLabel->setText(QStringLiteral("Off."));
        return;
    }
    try {
        config::Config planned = settingsInTabs();
        const output::MqttSettings s =
            output::MqttSettings::fromConfig(planned, worker::Acquisition::stationName(planned));
        mqttHintLabel->setText(QStringLiteral("Readings to %1 on %2; status on %3%4.")
                                   .arg(s.broker.uri(), s.topic, s.statusTopic,
                                        s.commands ? QStringLiteral("; commands from ") + s.commandTopic : QString()));
    } catch (const std::exception& failure) {
        mqttHintLabel->setText(QString::fromStdString(failure.what()));
    }
}

} // namespace tavlo
