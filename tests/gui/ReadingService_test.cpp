// The window's parts of the reading service: its group on the Services tab (port, web pages, token with Copy),
// a run that serves while it goes on, and "Type values" on the Output tab.
#include "WindowFixture.h"

#include "output/ReadingServiceToken.h"
#include "tavlo/JLabelHtml.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace tavlo;
using tavlo::test::processEventsUntil;

namespace {

// The user's configuration folder (where the token is kept) is a fresh one for each test.
class ReadingServiceWindow : public test::WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        m_hadConfig = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        m_savedConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    }
    void TearDown() override {
        WindowFixture::TearDown();
        if (m_hadConfig)
            qputenv("XDG_CONFIG_HOME", m_savedConfig);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }
    static int freePort() {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }
    // The status of GET /reading, 0 when nothing answers.
    static int getReading(int port) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
        if (!socket.waitForConnected(2000))
            return 0;
        socket.write("GET /reading HTTP/1.1\r\nHost: localhost:" + QByteArray::number(port) + "\r\n\r\n");
        QByteArray answer;
        processEventsUntil([&] {
            socket.waitForReadyRead(10);
            answer += socket.readAll();
            return answer.contains("\r\n\r\n");
        });
        return answer.mid(9, 3).toInt();
    }

    QTemporaryDir m_config;
    bool m_hadConfig = false;
    QByteArray m_savedConfig;
};

TEST_F(ReadingServiceWindow, SwitchingTheServiceOnMakesTheTokenWhichCopyPutsOnTheClipboard) {
    VudareDiVezFrame2& w = open();
    QTabWidget* tabs = w.tabbedPane();
    tabs->setCurrentIndex(VudareDiVezFrame2::ServicesTab);
    EXPECT_EQ(w.readingServicePortBox->value(), 0);
    EXPECT_TRUE(w.readingServiceTokenField->text().isEmpty()) << "no token before the service is wanted";
    EXPECT_FALSE(w.readingServiceCopyButton->isEnabled());
    EXPECT_FALSE(QFile::exists(output::ReadingServiceToken::path()));

    w.readingServicePortBox->setValue(8181);
    const QString token = w.readingServiceTokenField->text();
    EXPECT_EQ(token.size(), 64);
    EXPECT_EQ(token, output::ReadingServiceToken::load());
    EXPECT_TRUE(w.readingServiceHintLabel->text().contains("ws://localhost:8181/readings"));
    ASSERT_TRUE(w.readingServiceCopyButton->isEnabled());
    QTest::mouseClick(w.readingServiceCopyButton, Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), token);

    w.readingServiceOriginsField->setText(QStringLiteral("https://erp.example.com  http://localhost:8000"));
    tabs->setCurrentIndex(VudareDiVezFrame2::StartTab); // leaving Services saves
    EXPECT_EQ(stored("readingServicePort"), "8181");
    EXPECT_EQ(stored("readingServiceOrigins"), "https://erp.example.com http://localhost:8000");
    EXPECT_EQ(stored("readingServiceToken"), "<none>") << "the token never goes into the settings";
    for (const QString& key : m_store->settingsNode().keys())
        EXPECT_NE(m_store->settingsNode().get(key, QString()), token) << key.toStdString();

    tabs->setCurrentIndex(VudareDiVezFrame2::ServicesTab);
    w.readingServicePortBox->setValue(0);
    w.readingServiceOriginsField->clear();
    tabs->setCurrentIndex(VudareDiVezFrame2::StartTab);
    EXPECT_EQ(stored("readingServicePort"), "<none>");
    EXPECT_EQ(stored("readingServiceOrigins"), "<none>");
}

TEST_F(ReadingServiceWindow, AnOriginThatCouldNeverMatchIsNamedBelowTheField) {
    VudareDiVezFrame2& w = open();
    w.tabbedPane()->setCurrentIndex(VudareDiVezFrame2::ServicesTab);
    w.readingServiceOriginsField->setText(QStringLiteral("https://erp.example.com/"));
    QMetaObject::invokeMethod(w.readingServiceOriginsField, "editingFinished");
    EXPECT_TRUE(w.readingServiceHintLabel->text().contains("final slash"))
        << w.readingServiceHintLabel->text().toStdString();
}

TEST_F(ReadingServiceWindow, ARunServesFromStartToStopAndABadOriginKeepsItFromStarting) {
    tspSimAddPort("COM5", nullptr, nullptr);
    const int port = freePort();
    storeSettings([port](config::Config& c) { c.readingServicePort = port; });
    VudareDiVezFrame2& w = open();
    EXPECT_EQ(getReading(port), 0);
    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return w.isConnected(); })) << dialogs.texts().join('\n').toStdString();
    EXPECT_EQ(getReading(port), 204);
    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return !w.isConnected() && w.tabbedPane()->count() == 8; }));
    EXPECT_EQ(getReading(port), 0) << "Stop ends the service";

    w.tabbedPane()->setCurrentIndex(VudareDiVezFrame2::ServicesTab);
    w.readingServiceOriginsField->setText(QStringLiteral("HTTPS://ERP.example.com"));
    w.tabbedPane()->setCurrentIndex(VudareDiVezFrame2::StartTab);
    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    processEventsUntil([] { return false; }, 200);
    EXPECT_FALSE(w.isConnected());
    EXPECT_TRUE(dialogs.texts().join('\n').contains("lower case")) << dialogs.texts().join('\n').toStdString();
    EXPECT_FALSE(tspSimIsOpen("COM5")) << "the port is not even opened";
}

TEST_F(ReadingServiceWindow, TypeValuesOffIsStoredAndDisablesTheTypingControls) {
    VudareDiVezFrame2& w = open();
    QTabWidget* tabs = w.tabbedPane();
    tabs->setCurrentIndex(VudareDiVezFrame2::OutputTab);
    ASSERT_TRUE(w.typeValuesCheckBox->isChecked());
    EXPECT_TRUE(w.keyboardTypeBox->isEnabled());
    w.typeValuesCheckBox->setChecked(false);
    for (QWidget* typing : std::initializer_list<QWidget*>{w.keyboardTypeBox, w.delayTextField, w.startWithBox,
                                                           w.outputTerminatorBox, w.everyXValuesTextField})
        EXPECT_FALSE(typing->isEnabled());
    EXPECT_TRUE(w.dataLogCheckBox->isEnabled()) << "the data log goes on without typing";
    tabs->setCurrentIndex(VudareDiVezFrame2::StartTab);
    EXPECT_EQ(stored("typeValues"), "false");
    tabs->setCurrentIndex(VudareDiVezFrame2::OutputTab);
    w.typeValuesCheckBox->setChecked(true);
    tabs->setCurrentIndex(VudareDiVezFrame2::StartTab);
    EXPECT_EQ(stored("typeValues"), "<none>") << "on is the default, which the store does not keep";
}

TEST_F(ReadingServiceWindow, WithTypingOffARunMakesNoKeyboardAndTypesNothing) {
    tspSimAddPort("COM5", nullptr, nullptr);
    storeSettings([](config::Config& c) { c.typeValues = false; });
    int keyboards = 0;
    makeKeyboard = [&keyboards] {
        ++keyboards;
        return std::make_unique<platform::RecordingKeyboard>(false);
    };
    VudareDiVezFrame2& w = open();
    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return w.isConnected(); })) << dialogs.texts().join('\n').toStdString();
    EXPECT_TRUE(w.startHintLabel->text().contains("nothing is typed"));
    const QByteArray record("+0001.23 g\r");
    tspSimFeed("COM5", reinterpret_cast<const uint8_t*>(record.constData()), int32_t(record.size()));
    ASSERT_TRUE(processEventsUntil([&] {
        return w.statusLabel()->text() == test::tavloText("line.count") + QStringLiteral("1");
    })) << w.statusLabel()->text().toStdString();
    EXPECT_EQ(keyboards, 0);
    EXPECT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join('\n').toStdString();
    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return !w.isConnected(); }));
}

} // namespace
