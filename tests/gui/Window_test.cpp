// The main window over tspSim: Start and Stop, the tabs taken out and put back, the event-log spans, autosave
// by the tab that is left, and the previous-port rule of the automatic start.
#include "WindowFixture.h"

#include "base/ResourceBundle.h"
#include "config/Instrument.h"
#include "tavlo/EventLog.h"
#include "tavlo/JLabelHtml.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>

using namespace tavlo;
using tavlo::test::processEventsUntil;
using tavlo::test::tavloText;
using H = tavlo::config::ConfigHelper;

namespace {

// The (text, style) pieces of every non-empty log line.
QList<QList<QPair<QString, QString>>> logLines(EventLog& log) {
    log.flushPending();
    QList<QList<QPair<QString, QString>>> lines;
    for (QTextBlock block = log.document()->begin(); block.isValid(); block = block.next()) {
        QList<QPair<QString, QString>> spans;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            spans.append({f.text(), f.charFormat().property(EventLog::kStyleProperty).toString()});
        }
        if (!spans.isEmpty())
            lines.append(spans);
    }
    return lines;
}

worker::DataLine line(const char* raw, const char* value) {
    return worker::DataLine(QString::fromLatin1(raw), QString::fromLatin1(value), 1,
                            std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now()),
                            false);
}

class WindowTest : public test::WindowFixture {};

TEST_F(WindowTest, StartTypesRecordsAndStopRestoresTheTabs) {
    tspSimAddPort("COM5", nullptr, nullptr);
    VudareDiVezFrame2& w = open();
    ASSERT_EQ(w.tabbedPane()->count(), 8);
    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return w.isConnected() && w.tabbedPane()->count() == 3; }))
        << dialogs.texts().join('\n').toStdString();
    EXPECT_EQ(w.startStopJButton->text(), tavloText("VudareDiVezFrame2.startStopJButton.textStop"));
    EXPECT_EQ(w.tabbedPane()->widget(1), w.eventLog());
    ASSERT_TRUE(tspSimIsOpen("COM5"));

    const QByteArray record("+0001.23 g\r");
    tspSimFeed("COM5", reinterpret_cast<const uint8_t*>(record.constData()), int32_t(record.size()));
    ASSERT_TRUE(processEventsUntil([&] {
        return keyboard && keyboard->keyTrace().find('P') != std::string::npos &&
               w.statusLabel()->text().startsWith(tavloText("line.count"));
    }));
    bool typed = false;
    for (const auto& spans : logLines(*w.eventLog()))
        for (const auto& span : spans)
            typed = typed || (span.second == QLatin1String("typed") && span.first.contains(QLatin1String("1.23")));
    EXPECT_TRUE(typed);

    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return !w.isConnected() && w.tabbedPane()->count() == 8; }));
    ASSERT_TRUE(processEventsUntil([&] { return !tspSimIsOpen("COM5"); }));
    EXPECT_EQ(w.startStopJButton->text(), tavloText("VudareDiVezFrame2.startStopJButton.text"));
    EXPECT_EQ(w.tabbedPane()->widget(VudareDiVezFrame2::InputTab)->isAncestorOf(w.portList), true);
    EXPECT_EQ(w.statusLabel()->text(), tavloText("VudareDiVezFrame2.statusJLabel.text"));
}

TEST_F(WindowTest, EventLogLinesShowTheTypedSpanInItsStyle) {
    VudareDiVezFrame2& w = open();
    w.update(line("ST,GS,+0001.23 kg\r\n", "0001.23"));
    w.update(line("N 12.5 g\r\n", "12,5"));
    w.update(line("\x02+5.00\r\n", "5.00"));
    w.update(line("+7.00\r\n", ""));
    const auto lines = logLines(*w.eventLog());
    ASSERT_GE(lines.size(), 4);
    const auto& first = lines[lines.size() - 4];
    ASSERT_EQ(first.size(), 4);
    EXPECT_EQ(first[0].second, "regular");
    EXPECT_EQ(first[1], qMakePair(QStringLiteral("ST,GS,+"), QStringLiteral("ignored")));
    EXPECT_EQ(first[2], qMakePair(QStringLiteral("0001.23"), QStringLiteral("typed")));
    EXPECT_EQ(first[3], qMakePair(QStringLiteral(" kg<13><10>"), QStringLiteral("ignored")));
    EXPECT_EQ(lines[lines.size() - 3][2], qMakePair(QStringLiteral("12.5"), QStringLiteral("typed")));
    EXPECT_EQ(lines[lines.size() - 2].last().second, "unknown");
    EXPECT_EQ(lines[lines.size() - 1].last().second, "ignored");
}

TEST_F(WindowTest, EventLogKeepsItsLastTenThousandLines) {
    VudareDiVezFrame2& w = open();
    for (int i = 0; i < EventLog::kMaxLines + 50; ++i)
        w.eventLogAppend(QStringLiteral("line %1\n").arg(i));
    w.eventLog()->flushPending();
    EXPECT_LE(w.eventLog()->document()->blockCount(), EventLog::kMaxLines);
    EXPECT_TRUE(w.eventLog()->toPlainText().contains(QStringLiteral("line %1").arg(EventLog::kMaxLines + 49)));
    EXPECT_FALSE(w.eventLog()->toPlainText().contains(QStringLiteral("line 10\n")));
}

TEST_F(WindowTest, AutosaveOnlyWhenLeavingTheRightTabsAfterAChange) {
    VudareDiVezFrame2& w = open();
    QTabWidget* tabs = w.tabbedPane();
    const QString before = stored("bitRate");
    tabs->setCurrentIndex(VudareDiVezFrame2::InputTab);
    w.bitRateBox->setCurrentIndex(3);
    EXPECT_EQ(stored("bitRate"), before);
    tabs->setCurrentIndex(VudareDiVezFrame2::SettingsTab); // leaving Input saves
    EXPECT_EQ(stored("bitRate"), "3");

    const QString updates = stored("checkForUpdates");
    w.checkForUpdatesCheckBox->setChecked(!w.checkForUpdatesCheckBox->isChecked());
    tabs->setCurrentIndex(VudareDiVezFrame2::EventLogTab); // leaving Settings does not save
    EXPECT_EQ(stored("checkForUpdates"), updates);
    tabs->setCurrentIndex(VudareDiVezFrame2::AboutTab); // nor does leaving the event log
    EXPECT_EQ(stored("checkForUpdates"), updates);
    tabs->setCurrentIndex(VudareDiVezFrame2::StartTab); // leaving About does
    EXPECT_NE(stored("checkForUpdates"), updates);

    // Without a change nothing is written: a refused write would be logged.
    m_root->faults().onFlush = [] { throw prefs::AccessDeniedException(QStringLiteral("refused")); };
    tabs->setCurrentIndex(VudareDiVezFrame2::OutputTab);
    tabs->setCurrentIndex(VudareDiVezFrame2::StartTab);
    EXPECT_FALSE(w.eventLog()->toPlainText().contains(tavloText("autosave.error")));
    m_root->faults().onFlush = nullptr;
}

struct AutoStartCase {
    const char* name;
    bool abort;
    bool commandLinePort;
    bool expectAbortMessage;
    bool expectConnected;
};

class AutoStartTest : public test::WindowFixture, public ::testing::WithParamInterface<AutoStartCase> {};

TEST_P(AutoStartTest, PreviousPortRule) {
    const AutoStartCase& c = GetParam();
    tspSimAddPort("COM5", nullptr, nullptr);
    storeSettings([&](config::Config& s) {
        s.setPort(QStringLiteral("COM3")); // also written as the previous port
        s.setConnect(&H::Connect::AUTO);
        s.abortAutoStartWhenPrevPortNotAvailable = c.abort;
        s.minimizeToTray = false;
    });
    VudareDiVezFrame2& w = open(c.commandLinePort ? std::optional<QString>(QStringLiteral("COM5")) : std::nullopt);
    const QString abortText =
        base::ResourceBundle::getBundle(QStringLiteral("tavlo.Tavlo"))
            .format(QStringLiteral("previously.used.port.0.no.longer.available.naborting.auto.start"),
                    {QStringLiteral("COM3")});
    EXPECT_EQ(dialogs.texts().contains(abortText), c.expectAbortMessage);
    processEventsUntil([&] { return w.isConnected(); }, c.expectConnected ? 10000 : 200);
    EXPECT_EQ(w.isConnected(), c.expectConnected);
    EXPECT_EQ(w.config().getPort(), "COM5");
}

INSTANTIATE_TEST_SUITE_P(Window, AutoStartTest,
                         ::testing::Values(AutoStartCase{"aborts", true, false, true, false},
                                           AutoStartCase{"startsWithoutAbortOption", false, false, false, true},
                                           AutoStartCase{"commandLinePortNeverAborts", true, true, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

namespace {

TEST_F(WindowTest, CtrlTabChangesTabsWhereverTheFocusIsAndStartTakesTheFocus) {
    VudareDiVezFrame2& w = open();
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(processEventsUntil([&] { return w.isActiveWindow(); }));
    QTabWidget* tabs = w.tabbedPane();
    EXPECT_TRUE(w.startStopJButton->hasFocus());
    tabs->setCurrentIndex(VudareDiVezFrame2::InputTab);
    w.portList->setFocus();
    QTest::keyClick(w.portList, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(tabs->currentIndex(), VudareDiVezFrame2::ProcessingTab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(tabs->currentIndex(), VudareDiVezFrame2::StartTab);
    EXPECT_TRUE(w.startStopJButton->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(tabs->currentIndex(), VudareDiVezFrame2::AboutTab) << "the steps wrap around";
}

} // namespace
