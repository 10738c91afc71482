// The window's parts of MQTT: its group on the Services tab, stored only while set and never with a password,
// and a run whose connection state shows on the Start tab.
#include "WindowFixture.h"

#include "tavlo/EventLog.h"
#include "tavlo/ReadingPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace tavlo;
using tavlo::test::processEventsUntil;

namespace {

// The user's data folder (where readings wait for the broker) is a fresh one for each test.
class MqttWindow : public test::WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        m_hadData = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        m_savedData = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", m_data.path().toLocal8Bit());
    }
    void TearDown() override {
        WindowFixture::TearDown();
        if (m_hadData)
            qputenv("XDG_DATA_HOME", m_savedData);
        else
            qunsetenv("XDG_DATA_HOME");
    }
    // A loopback port where nothing listens.
    static int closedPort() {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }
    static void finishEditing(QLineEdit* field, const QString& text) {
        field->setText(text);
        QMetaObject::invokeMethod(field, "editingFinished");
    }

    QTemporaryDir m_data;
    bool m_hadData = false;
    QByteArray m_savedData;
};

TEST_F(MqttWindow, TheSettingsAreStoredOnlyWhileSetAndThePasswordNever) {
    QTemporaryDir secrets;
    const QString passwordFile = secrets.filePath("bench4.pw");
    {
        QFile f(passwordFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("s3cret-Pa55\n");
    }
    VudareDiVezFrame2& w = open();
    QTabWidget* tabs = w.tabbedPane();
    tabs->setCurrentIndex(VudareDiVezFrame2::ServicesTab);
    EXPECT_EQ(w.mqttHintLabel->text(), "Off.");
    EXPECT_EQ(w.mqttQosBox->currentIndex(), 1);
    EXPECT_EQ(w.mqttBacklogBox->value(), 100000);

    finishEditing(w.stationField, "bench4");
    finishEditing(w.mqttBrokerField, "tcp://Broker.Lab");
    finishEditing(w.mqttUserField, "bench4");
    finishEditing(w.mqttPasswordFileField, passwordFile);
    w.mqttQosBox->setCurrentIndex(2);
    w.mqttCommandsCheckBox->setChecked(true);
    w.mqttBacklogBox->setValue(5000);
    EXPECT_TRUE(w.mqttHintLabel->text().contains("tcp://broker.lab:1883")) << w.mqttHintLabel->text().toStdString();
    EXPECT_TRUE(w.mqttHintLabel->text().contains("tavlo/bench4/command")) << w.mqttHintLabel->text().toStdString();
    tabs->setCurrentIndex(VudareDiVezFrame2::StartTab); // leaving Services saves
    EXPECT_EQ(stored("mqttBroker"), "tcp://Broker.Lab");
    EXPECT_EQ(stored("mqttUser"), "bench4");
    EXPECT_EQ(stored("mqttPasswordFile"), passwordFile);
    EXPECT_EQ(stored("mqttQos"), "2");
    EXPECT_EQ(stored("mqttCommands"), "true");
    EXPECT_EQ(stored("mqttBacklog"), "5000");
    EXPECT_EQ(stored("mqttTopic"), "<none>") << "the default topic is not stored";
    for (const QString& key : m_store->settingsNode().keys())
        EXPECT_FALSE(m_store->settingsNode().get(key, QString()).contains("s3cret")) << key.toStdString();
    EXPECT_TRUE(w.readingPanel->planLabel()->text().contains("MQTT broker tcp://Broker.Lab"))
        << w.readingPanel->planLabel()->text().toStdString();

    // A topic that cannot be published to is named below the fields before Start.
    tabs->setCurrentIndex(VudareDiVezFrame2::ServicesTab);
    finishEditing(w.mqttTopicField, "lab/#");
    EXPECT_TRUE(w.mqttHintLabel->text().contains("wildcards")) << w.mqttHintLabel->text().toStdString();

    finishEditing(w.mqttBrokerField, "");
    finishEditing(w.mqttTopicField, "");
    finishEditing(w.mqttUserField, "");
    finishEditing(w.mqttPasswordFileField, "");
    w.mqttQosBox->setCurrentIndex(1);
    w.mqttCommandsCheckBox->setChecked(false);
    w.mqttBacklogBox->setValue(100000);
    tabs->setCurrentIndex(VudareDiVezFrame2::StartTab);
    for (const char* key : {"mqttBroker", "mqttUser", "mqttPasswordFile", "mqttQos", "mqttCommands", "mqttBacklog"})
        EXPECT_EQ(stored(key), "<none>") << key;
}

TEST_F(MqttWindow, ARunShowsTheConnectionOnTheStartTabAndKeepsTheReadings) {
    tspSimAddPort("COM5", nullptr, nullptr);
    const int port = closedPort();
    storeSettings([port](config::Config& c) {
        c.station = "bench4";
        c.mqttBroker = QStringLiteral("tcp://127.0.0.1:%1").arg(port);
    });
    VudareDiVezFrame2& w = open();
    QLabel* state = w.readingPanel->outputStateLabel();
    EXPECT_TRUE(state->isHidden());
    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return w.isConnected(); })) << dialogs.texts().join('\n').toStdString();
    ASSERT_TRUE(processEventsUntil([&] { return state->text().contains("not connected"); }))
        << state->text().toStdString();
    EXPECT_FALSE(state->isHidden());
    EXPECT_TRUE(state->text().contains(QStringLiteral("tcp://127.0.0.1:%1").arg(port))) << state->text().toStdString();
    EXPECT_TRUE(state->text().contains("nothing answers")) << state->text().toStdString();

    const QByteArray records("+0001.23 g\r+0002.34 g\r");
    tspSimFeed("COM5", reinterpret_cast<const uint8_t*>(records.constData()), int32_t(records.size()));
    ASSERT_TRUE(processEventsUntil([&] { return state->text().contains("2 readings kept"); }, 10000))
        << state->text().toStdString();
    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return !w.isConnected() && state->text().contains("stopped"); }, 10000))
        << state->text().toStdString();
    EXPECT_TRUE(state->text().contains("2 readings kept")) << state->text().toStdString();
    w.eventLog()->flushPending();
    const QString log = w.eventLog()->toPlainText();
    EXPECT_TRUE(log.contains("MQTT: no connection to")) << log.toStdString();
}

TEST_F(MqttWindow, SettingsThatCannotWorkKeepTheRunFromStarting) {
    tspSimAddPort("COM5", nullptr, nullptr);
    storeSettings([](config::Config& c) {
        c.mqttBroker = QStringLiteral("tcp://127.0.0.1:1883");
        c.mqttUser = QStringLiteral("bench4");
        c.mqttPasswordFile = QStringLiteral("/nonexistent/bench4.pw");
    });
    VudareDiVezFrame2& w = open();
    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    processEventsUntil([] { return false; }, 200);
    EXPECT_FALSE(w.isConnected());
    EXPECT_TRUE(dialogs.texts().join('\n').contains("/nonexistent/bench4.pw"))
        << dialogs.texts().join('\n').toStdString();
    EXPECT_FALSE(tspSimIsOpen("COM5")) << "the port is not even opened";
}

} // namespace
