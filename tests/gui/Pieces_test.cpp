// The pieces around the main window: the port detection dialog, the Request button, minimising to the tray and
// the links that open in the browser.
#include "UrlRecorder.h"
#include "WindowFixture.h"

#include "base/ResourceBundle.h"
#include "config/Instrument.h"
#include "tavlo/AutoPortDialog.h"
#include "tavlo/LinkMouseListener.h"
#include "tavlo/LinkRunner.h"
#include "tavlo/TraySupport.h"
#include "worker/MessageBoxSeam.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <atomic>

using namespace tavlo;
using tavlo::test::processEventsUntil;
using H = tavlo::config::ConfigHelper;

namespace {

QString workerText(const char* key) {
    return base::ResourceBundle::getBundle(QStringLiteral("tavlo.worker.WorkerBundle")).getString(QLatin1String(key));
}

AutoPortDialog* openDialog() {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<AutoPortDialog*>(top); dialog && dialog->isVisible())
            return dialog;
    return nullptr;
}

class PiecesTest : public test::WindowFixture {};

TEST_F(PiecesTest, AutoDetectSelectsTheAnsweringPortInTheWindow) {
    tspSimAddPort("COM5", nullptr, nullptr);
    tspSimAddPort("COM6", nullptr, nullptr);
    tspSimSetLines("COM6", TSP_LINE_DSR | TSP_LINE_CTS);
    VudareDiVezFrame2& w = open(std::nullopt);
    w.show();
    ASSERT_EQ(w.portList->count(), 2);
    w.portList->setCurrentIndex(w.portList->findText(QStringLiteral("COM5")));

    QTest::mouseClick(w.autoButton, Qt::LeftButton);
    QPointer<AutoPortDialog> dialog = openDialog();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->okButton()->text(), "Cancel");
    ASSERT_TRUE(processEventsUntil([&] { return dialog->workerDone(); }, 30000));
    ASSERT_TRUE(processEventsUntil([&] { return dialog->okButton()->text() == QLatin1String("Close"); }));
    EXPECT_EQ(w.portList->currentText(), "COM6");
    EXPECT_TRUE(dialog->textPane()->toPlainText().contains(workerText("best.port") + QStringLiteral(" COM6")))
        << dialog->textPane()->toPlainText().toStdString();
    EXPECT_FALSE(tspSimIsOpen("COM5") || tspSimIsOpen("COM6"));

    QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return dialog.isNull();
    }));
    EXPECT_EQ(w.portList->currentText(), "COM6");
}

TEST_F(PiecesTest, ClosingTheDetectionWhileItRunsClosesThePortUnderTest) {
    tspSimAddPort("COM5", nullptr, nullptr);
    tspSimSetLines("COM5", TSP_LINE_DSR | TSP_LINE_CTS);
    VudareDiVezFrame2& w = open(std::nullopt);
    w.show();
    QTest::mouseClick(w.autoButton, Qt::LeftButton);
    QPointer<AutoPortDialog> dialog = openDialog();
    ASSERT_TRUE(dialog);
    ASSERT_TRUE(processEventsUntil([] { return tspSimIsOpen("COM5") != 0; }));
    dialog->close();
    ASSERT_TRUE(processEventsUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return dialog.isNull();
    }));
    // The probing ends by itself and still closes the port; its last reports go nowhere.
    ASSERT_TRUE(processEventsUntil([] { return tspSimIsOpen("COM5") == 0; }, 30000));
    processEventsUntil([] { return false; }, 300);
    EXPECT_EQ(w.portList->currentText(), "COM5");
}

TEST_F(PiecesTest, RequestButtonSendsTheProfileRequestWhileRunning) {
    tspSimAddPort("COM5", nullptr, nullptr);
    storeSettings([](config::Config& s) { s.setInstrument(H::Instrument::valueOf(QStringLiteral("MITUTOYO"))); });
    VudareDiVezFrame2& w = open();
    EXPECT_FALSE(w.requestButton->isHidden());
    EXPECT_FALSE(w.requestButton->isEnabled());
    EXPECT_EQ(w.requestButton->toolTip(), "Press Start first: no instrument is being read.");

    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return w.isConnected(); })) << dialogs.texts().join('\n').toStdString();
    ASSERT_TRUE(w.requestButton->isEnabled());
    QTest::mouseClick(w.requestButton, Qt::LeftButton);
    QTest::mouseClick(w.requestButton, Qt::LeftButton);
    QByteArray sent;
    ASSERT_TRUE(processEventsUntil([&] {
        uint8_t buffer[64];
        const int n = tspSimTakeOutput("COM5", buffer, sizeof buffer);
        sent.append(reinterpret_cast<const char*>(buffer), n > 0 ? n : 0);
        return sent.size() >= 4;
    })) << sent.toStdString();
    EXPECT_EQ(sent, QByteArray("1\r1\r"));

    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return !w.isConnected(); }));
    EXPECT_FALSE(w.requestButton->isEnabled());

    // For a profile without a request the button stays where it is, disabled, and says why.
    w.tabbedPane()->setCurrentIndex(VudareDiVezFrame2::InputTab);
    w.instrumentBox->setCurrentIndex(H::Instrument::valueOf(QStringLiteral("GENERIC"))->ordinal());
    EXPECT_FALSE(w.requestButton->isHidden());
    EXPECT_FALSE(w.requestButton->isEnabled());
    EXPECT_TRUE(w.requestButton->toolTip().contains("has no request command"))
        << w.requestButton->toolTip().toStdString();
}

TEST(TrayTest, MinimisingHidesTheWindowAndTheIconBringsItBack) {
    QWidget window;
    QMap<int, QPixmap> icons;
    for (int size : {16, 20, 24, 32}) {
        QPixmap icon(size, size);
        icon.fill(Qt::darkGreen);
        icons.insert(size, icon);
    }
    int balloons = 0;
    TraySupport tray(
        &window, icons, [&] { return ++balloons > 0; }, QStringLiteral("still running"));
    tray.install();
    tray.install(); // a second install changes nothing
    window.show();
    ASSERT_TRUE(tray.trayIcon());
    EXPECT_FALSE(tray.trayIcon()->isVisible());

    window.setWindowState(Qt::WindowMinimized);
    ASSERT_TRUE(processEventsUntil([&] { return window.isHidden(); }));
    EXPECT_TRUE(tray.trayIcon()->isVisible());
    EXPECT_EQ(balloons, 1);

    emit tray.trayIcon()->activated(QSystemTrayIcon::Context); // the menu click does not restore
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.isHidden());
    emit tray.trayIcon()->activated(QSystemTrayIcon::Trigger);
    ASSERT_TRUE(processEventsUntil([&] { return window.isVisible(); }));
    EXPECT_FALSE(window.windowState() & Qt::WindowMinimized);
    EXPECT_FALSE(tray.trayIcon()->isVisible());

    // Removed, minimising is left to the desktop.
    tray.remove();
    window.setWindowState(Qt::WindowMinimized);
    processEventsUntil([] { return false; }, 100);
    EXPECT_FALSE(window.isHidden());
    EXPECT_EQ(balloons, 1);
}

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override { worker::MessageBoxSeam::install(&dialogs); }
    void TearDown() override {
        LinkRunner::waitForAll();
        QCoreApplication::processEvents();
        worker::MessageBoxSeam::install(nullptr);
    }
    test::ScriptedDialogs dialogs;
};

TEST_F(LinkTest, AFailedOpenIsReportedAndWaitForAllJoinsTheRunners) {
    std::atomic<bool> slowDone{false};
    LinkRunner::open(QStringLiteral("https://example.org/slow"), [&](const QString&) {
        QThread::msleep(200);
        slowDone = true;
        return true;
    });
    LinkRunner::open(QStringLiteral("https://example.org/fails"), [](const QString&) { return false; });
    LinkRunner::waitForAll();
    EXPECT_TRUE(slowDone);
    ASSERT_TRUE(processEventsUntil([&] { return !dialogs.boxes.isEmpty(); }));
    processEventsUntil([] { return false; }, 50);
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].title, "A problem occured");
}

TEST_F(LinkTest, ClickingALinkableLabelOpensItsAddress) {
    test::UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "handle");
    QLabel label(QStringLiteral("https://example.org/tavlo")); // the whole text is the address
    makeLinkable(&label, new LinkMouseListener);
    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);
    label.show();
    QTest::mouseClick(&label, Qt::LeftButton);
    LinkRunner::waitForAll();
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    EXPECT_EQ(recorder.urls(), QStringList{"https://example.org/tavlo"});
    EXPECT_TRUE(dialogs.boxes.isEmpty());
}

} // namespace
