// The bench operator's parts of the window: the reading on the Start tab and its history, what Start will use,
// the Request, Tare and Zero buttons, the hotkey, and the requests of later starts and tavlo --send.
#include "WindowFixture.h"

#include "config/Instrument.h"
#include "tavlo/EventLog.h"
#include "tavlo/ReadingPanel.h"
#include "tavlo/util/WindowInstance.h"
#include "worker/Acquisition.h"

#include <QComboBox>
#include <QFile>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTreeWidget>
#include <atomic>
#include <thread>

using namespace tavlo;
using config::InstrumentCommand;
using tavlo::test::processEventsUntil;
using H = tavlo::config::ConfigHelper;

namespace {

constexpr InstrumentCommand kCommands[] = {InstrumentCommand::Request, InstrumentCommand::Tare,
                                           InstrumentCommand::Zero};

void feed(const QByteArray& bytes) {
    tspSimFeed("COM5", reinterpret_cast<const uint8_t*>(bytes.constData()), int32_t(bytes.size()));
}

// What the port received, once at least `size` bytes are there.
QByteArray sentToPort(qsizetype size) {
    QByteArray sent;
    processEventsUntil([&] {
        uint8_t buffer[256];
        const int n = tspSimTakeOutput("COM5", buffer, sizeof buffer);
        sent.append(reinterpret_cast<const char*>(buffer), n > 0 ? n : 0);
        return sent.size() >= size;
    });
    return sent;
}

void drainPort() {
    uint8_t buffer[256];
    while (tspSimTakeOutput("COM5", buffer, sizeof buffer) > 0) {
    }
}

QStringList row(const QTreeWidget& history, int index) {
    QStringList cells;
    const QTreeWidgetItem* item = history.topLevelItem(index);
    for (int c = 0; item && c < history.columnCount(); ++c)
        cells.append(item->text(c));
    return cells;
}

QString eventLogText(VudareDiVezFrame2& w) {
    w.eventLog()->flushPending();
    return w.eventLog()->document()->toPlainText();
}

std::shared_ptr<worker::Reading> reading(const char* value, worker::Outcome outcome, std::optional<bool> stable = {},
                                         const char* unit = "", const char* raw = "") {
    auto r = std::make_shared<worker::Reading>();
    r->value = QString::fromLatin1(value);
    r->outcome = outcome;
    r->stable = stable;
    r->unit = QString::fromLatin1(unit);
    r->raw = QString::fromLatin1(raw);
    r->time = worker::instantNow();
    return r;
}

TEST(ReadingPanelTest, TheLastValueIsShownLargeAndTheLastTenReadingsWithTheirOutcome) {
    ReadingPanel panel;
    using O = worker::Outcome;
    auto first = reading("12.34", O::Queued, true, "g", "ST,+00012.34  g\r\n");
    first->time = worker::Instant{} + std::chrono::hours(24 * 365 * 40) + std::chrono::seconds(7);
    panel.showReading(*first);
    EXPECT_EQ(panel.valueLabel()->text(), "12.34");
    EXPECT_EQ(panel.unitLabel()->text(), "g");
    EXPECT_EQ(panel.stabilityLabel()->text(), "stable");
    EXPECT_EQ(panel.timeLabel()->text(), ReadingPanel::shownTime(first->time));
    EXPECT_EQ(row(*panel.history(), 0),
              (QStringList{ReadingPanel::shownTime(first->time), "12.34", "g", "stable", "queued"}));
    EXPECT_TRUE(ReadingPanel::shownTime(first->time).endsWith(":07"));
    // Records without a value are in the history only, with the record itself where the value would be.
    panel.showReading(*reading("", O::NoValue, {}, "", "T S   100.00 g\r\n"));
    EXPECT_EQ(panel.valueLabel()->text(), "12.34");
    EXPECT_EQ(row(*panel.history(), 0).mid(1), (QStringList{"T S   100.00 g<13><10>", "", "", "no-value"}));
    panel.showReading(*reading("", O::Error, {}, "", "ST,+0001"));
    EXPECT_EQ(panel.valueLabel()->text(), "12.34");
    // An instrument out of its range is no weight: the display says so instead of the record's digits.
    panel.showReading(*reading("9999999", O::Overload, false, "", "OL,+9999999E+19\r\n"));
    EXPECT_EQ(panel.valueLabel()->text(), "Overload");
    EXPECT_EQ(panel.unitLabel()->text(), "");
    EXPECT_EQ(panel.stabilityLabel()->text(), "");
    EXPECT_EQ(row(*panel.history(), 0).mid(1), (QStringList{"OL,+9999999E+19<13><10>", "", "unstable", "overload"}));
    panel.showReading(*reading("12.40", O::Unstable, false, "g"));
    EXPECT_EQ(panel.valueLabel()->text(), "12.40");
    EXPECT_EQ(panel.stabilityLabel()->text(), "unstable");
    // A profile without a stability rule has no word for it.
    panel.showReading(*reading("7", O::Duplicate));
    EXPECT_EQ(panel.stabilityLabel()->text(), "");
    EXPECT_EQ(row(*panel.history(), 0).mid(1), (QStringList{"7", "", "", "duplicate"}));
    EXPECT_EQ(panel.history()->topLevelItemCount(), 6);

    for (int i = 1; i <= 10; ++i)
        panel.showReading(*reading(QByteArray::number(i).constData(), O::Accepted, true, "kg"));
    ASSERT_EQ(panel.history()->topLevelItemCount(), ReadingPanel::kHistoryRows);
    EXPECT_EQ(row(*panel.history(), 0).mid(1), (QStringList{"10", "kg", "stable", "accepted"}));
    EXPECT_EQ(row(*panel.history(), 9).mid(1), (QStringList{"1", "kg", "stable", "accepted"}));
    EXPECT_EQ(panel.valueLabel()->text(), "10");

    // A new run starts empty.
    panel.statusChanged(worker::StatusEvent{QString(), worker::instantNow(), worker::StatusEvent::Kind::Started, {}});
    EXPECT_EQ(panel.history()->topLevelItemCount(), 0);
    EXPECT_NE(panel.valueLabel()->text(), "10");
}

struct ChordCase {
    const char* setting;
    unsigned modifiers;
    platform::HotkeyChord::Named named;
    std::uint32_t character;
    const char* refusal; // a part of the reason; null: accepted
};

class HotkeyChordTest : public ::testing::TestWithParam<ChordCase> {};

TEST_P(HotkeyChordTest, ASettingBecomesTheDesktopsCombinationOrIsRefusedWithAReason) {
    using C = platform::HotkeyChord;
    const ChordCase& c = GetParam();
    QString why;
    const auto combination = RequestHotkey::combinationOf(QString::fromUtf8(c.setting), &why);
    if (c.refusal) {
        EXPECT_FALSE(combination);
        EXPECT_TRUE(why.contains(QLatin1String(c.refusal))) << why.toStdString();
        return;
    }
    ASSERT_TRUE(combination) << why.toStdString();
    const auto chord = RequestHotkey::chordOf(*combination, &why);
    ASSERT_TRUE(chord);
    EXPECT_EQ(chord->modifiers, c.modifiers);
    EXPECT_EQ(chord->named, c.named);
    EXPECT_EQ(chord->character, c.named == C::Named::None ? c.character : 0u);
    EXPECT_EQ(RequestHotkey::settingText(*combination), QString::fromUtf8(c.setting));
}

using CN = platform::HotkeyChord::Named;
constexpr unsigned kCtrl = platform::HotkeyChord::Control, kAlt = platform::HotkeyChord::Alt,
                   kShift = platform::HotkeyChord::Shift, kMeta = platform::HotkeyChord::Meta;
INSTANTIATE_TEST_SUITE_P(Settings, HotkeyChordTest,
                         ::testing::Values(ChordCase{"Ctrl+Alt+W", kCtrl | kAlt, CN::None, 'W', nullptr},
                                           ChordCase{"Ctrl+Shift+5", kCtrl | kShift, CN::None, '5', nullptr},
                                           ChordCase{"Alt+,", kAlt, CN::None, ',', nullptr},
                                           ChordCase{"Meta+Space", kMeta, CN::Space, 0, nullptr},
                                           ChordCase{"F24", 0, CN::F24, 0, nullptr},
                                           ChordCase{"Shift+F1", kShift, CN::F1, 0, nullptr},
                                           ChordCase{"Print", 0, CN::Print, 0, nullptr},
                                           ChordCase{"Pause", 0, CN::Pause, 0, nullptr},
                                           ChordCase{"ScrollLock", 0, CN::ScrollLock, 0, nullptr},
                                           ChordCase{"Ctrl+PgDown", kCtrl, CN::PageDown, 0, nullptr},
                                           ChordCase{"Ctrl+Alt+Del", kCtrl | kAlt, CN::Delete, 0, nullptr},
                                           ChordCase{"Ctrl+\xc3\x89", kCtrl, CN::None, 0xC9, nullptr},
                                           ChordCase{"W", 0, CN::None, 0, "would be taken"},
                                           ChordCase{"Shift+Return", 0, CN::None, 0, "would be taken"},
                                           ChordCase{"Ctrl+Alt+W, Ctrl+Q", 0, CN::None, 0, "not a key combination"},
                                           ChordCase{"Ctrl+", 0, CN::None, 0, "not a key combination"},
                                           ChordCase{"nonsense", 0, CN::None, 0, "not a key combination"},
                                           ChordCase{"Ctrl+Num+1", 0, CN::None, 0, "number pad"}));

class BenchTest : public test::WindowFixture {
protected:
    VudareDiVezFrame2& startWith(const char* instrument, const std::function<void(config::Config&)>& more = {}) {
        tspSimAddPort("COM5", nullptr, nullptr);
        // The handshake test of the A&D balances finds its lines.
        tspSimSetLines("COM5", TSP_LINE_DSR | TSP_LINE_CTS);
        storeSettings([&](config::Config& s) {
            s.setInstrument(H::Instrument::valueOf(QLatin1String(instrument)));
            if (more)
                more(s);
        });
        VudareDiVezFrame2& w = open();
        QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
        EXPECT_TRUE(processEventsUntil([&] {
            return w.isConnected() && w.requestButton->toolTip() != "Press Start first: no instrument is "
                                                                    "being read.";
        })) << dialogs.texts().join('\n').toStdString();
        return w;
    }
};

TEST_F(BenchTest, TheStartTabSaysWhatStartWillUse) {
    tspSimAddPort("COM5", nullptr, nullptr);
    storeSettings([](config::Config& s) {
        s.setInstrument(H::Instrument::valueOf(QStringLiteral("MITUTOYO")));
        s.setKeyboardType(&H::KeyboardType::AZERTY);
    });
    VudareDiVezFrame2& w = open();
    const QString plan = w.readingPanel->planLabel()->text();
    EXPECT_TRUE(plan.contains("COM5")) << plan.toStdString();
    EXPECT_TRUE(plan.contains(H::Instrument::valueOf(QStringLiteral("MITUTOYO"))->toString())) << plan.toStdString();
    EXPECT_TRUE(plan.contains(H::KeyboardType::AZERTY.toString())) << plan.toStdString();

    // A change on the Input tab is what Start will use when the Start tab is shown again.
    w.tabbedPane()->setCurrentIndex(VudareDiVezFrame2::InputTab);
    w.instrumentBox->setCurrentIndex(H::Instrument::valueOf(QStringLiteral("KERN_KFB"))->ordinal());
    w.tabbedPane()->setCurrentIndex(VudareDiVezFrame2::StartTab);
    EXPECT_TRUE(w.readingPanel->planLabel()->text().contains(H::Instrument::valueOf("KERN_KFB")->toString()))
        << w.readingPanel->planLabel()->text().toStdString();

    // Without typing, the tab says that instead of a keyboard.
    w.config().typeValues = false;
    w.tabbedPane()->setCurrentIndex(VudareDiVezFrame2::InputTab);
    w.tabbedPane()->setCurrentIndex(VudareDiVezFrame2::StartTab);
    EXPECT_TRUE(w.readingPanel->planLabel()->text().contains("does not type"))
        << w.readingPanel->planLabel()->text().toStdString();
}

// The display and the data log are fed by the same readings: the history's rows are the log's last lines.
TEST_F(BenchTest, TheRunsReadingsAppearLargeAndInTheHistoryAsTheDataLogHasThem) {
    QTemporaryDir dir;
    const QString log = dir.filePath("data.csv");
    VudareDiVezFrame2& w = startWith("AND_SIMPLE", [&](config::Config& s) {
        s.setInputTerminator(10);
        s.setDataLogFile(log);
    });
    QByteArray records = "US,+00012.40  g\r\nOL,+9999999E+19\r\nno value here\r\n";
    for (int i = 0; i < 8; ++i)
        records += "ST,+0001" + QByteArray::number(i) + ".50  g\r\n";
    records += "US,+00013.00  g\r\n";
    feed(records);
    ASSERT_TRUE(processEventsUntil([&] {
        const auto last = w.acquisition().lastReading();
        return last && last->raw.startsWith("US,+00013.00");
    })) << (w.acquisition().lastReading() ? w.acquisition().lastReading()->seq : -1)
        << eventLogText(w).toStdString();
    const ReadingPanel& panel = *w.readingPanel;
    EXPECT_EQ(panel.valueLabel()->text(), "13.00");
    EXPECT_EQ(panel.stabilityLabel()->text(), "unstable");
    EXPECT_EQ(panel.timeLabel()->text(), ReadingPanel::shownTime(w.acquisition().lastReading()->time));
    ASSERT_EQ(panel.history()->topLevelItemCount(), ReadingPanel::kHistoryRows);
    EXPECT_EQ(row(*panel.history(), 0).mid(1, 1), QStringList{"13.00"});
    // The unit is the profile's (none where it has no unit rule), the same in every record of this balance.
    const QString unit = w.acquisition().lastReading()->unit;
    EXPECT_EQ(panel.unitLabel()->text(), unit);
    EXPECT_EQ(row(*panel.history(), 1).mid(1), (QStringList{"17.50", unit, "stable", "queued"}));
    EXPECT_EQ(row(*panel.history(), 0).mid(3), (QStringList{"unstable", "queued"}));
    EXPECT_EQ(row(*panel.history(), 9).mid(4), QStringList{"no-value"});

    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return !w.isConnected(); }));
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = file.readAll().split('\n');
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    ASSERT_GE(lines.size(), 11);
    for (int i = 0; i < ReadingPanel::kHistoryRows; ++i) {
        const QByteArray line = lines[lines.size() - 1 - i].trimmed();
        const QStringList cells = row(*panel.history(), i);
        // time,port,instrument,record,value,outcome: the time's clock part and the outcome's word.
        EXPECT_EQ(QString::fromLatin1(line.mid(11, 8)), cells[ReadingPanel::TimeColumn]) << line.constData();
        EXPECT_EQ(QString::fromLatin1(line.mid(line.lastIndexOf(',') + 1)), cells[ReadingPanel::OutcomeColumn])
            << line.constData();
    }
    // After Stop the last run's readings stay in view.
    EXPECT_EQ(panel.history()->topLevelItemCount(), ReadingPanel::kHistoryRows);
}

TEST_F(BenchTest, TheButtonsAreEnabledWhileThePortIsOpenAndSayWhyNotOtherwise) {
    tspSimAddPort("COM5", nullptr, nullptr);
    const auto* instrument = H::Instrument::valueOf(QStringLiteral("MITUTOYO"));
    storeSettings([&](config::Config& s) { s.setInstrument(instrument); });
    VudareDiVezFrame2& w = open();
    const auto expectState = [&](const char* when, bool open, const QString& why) {
        for (InstrumentCommand command : kCommands) {
            QPushButton* b = w.readingPanel->button(command);
            const bool has = instrument->hasCommand(command);
            EXPECT_EQ(b->isEnabled(), open && has) << when << ' ' << config::commandName(command).toStdString();
            const QString tip = b->toolTip();
            if (!has)
                EXPECT_TRUE(tip.contains("has no " + config::commandName(command) + " command"))
                    << when << ' ' << tip.toStdString();
            else if (!open)
                EXPECT_EQ(tip, why) << when;
            else
                EXPECT_TRUE(tip.startsWith("Sends ")) << when << ' ' << tip.toStdString();
        }
    };
    EXPECT_EQ(w.requestButton->text(), "&Request");
    EXPECT_EQ(w.tareButton->text(), "&Tare");
    EXPECT_EQ(w.zeroButton->text(), "&Zero");
    expectState("before Start", false, "Press Start first: no instrument is being read.");

    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return w.isConnected(); }));
    expectState("running", true, {});
    EXPECT_EQ(w.requestButton->toolTip(), "Sends 1<13> to the instrument");
    // The mnemonic presses the button.
    QApplication::setActiveWindow(&w);
    QTest::keyClick(&w, Qt::Key_R, Qt::AltModifier);
    EXPECT_EQ(sentToPort(2), QByteArray("1\r"));

    // While the port is away the instrument hears nothing.
    tspSimUnplug("COM5");
    ASSERT_TRUE(processEventsUntil([&] { return !w.requestButton->isEnabled(); }, 20000));
    expectState("port lost", false, "The port COM5 is not open; Tavlo is waiting for it to come back.");
    tspSimAddPort("COM5", nullptr, nullptr);
    ASSERT_TRUE(processEventsUntil([&] { return w.requestButton->isEnabled(); }, 20000));

    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return !w.isConnected(); }));
    expectState("after Stop", false, "Press Start first: no instrument is being read.");
}

// Every command of every profile that has one: from its button, from tavlo --send through the window's socket
// and, for the request, from the hotkey; the port receives the profile's bytes exactly each time.
class BenchCommandTest : public BenchTest,
                         public ::testing::WithParamInterface<std::pair<const H::Instrument*, InstrumentCommand>> {};

std::vector<std::pair<const H::Instrument*, InstrumentCommand>> profileCommands() {
    std::vector<std::pair<const H::Instrument*, InstrumentCommand>> all;
    for (const H::Instrument* instrument : H::Instrument::constants())
        for (InstrumentCommand command : kCommands)
            if (instrument->hasCommand(command))
                all.emplace_back(instrument, command);
    return all;
}

class PressableHotkey : public platform::GlobalHotkey {
public:
    explicit PressableHotkey(std::function<void()> pressed) : pressed(std::move(pressed)) {}
    int eventDescriptor() const override { return -1; }
    bool dispatch() override { return true; }
    bool keysHeld() const override { return held; }
    std::function<void()> pressed;
    bool held = false;
};

TEST_P(BenchCommandTest, ReachesThePortByteForByteFromEveryWayIn) {
    const auto [instrument, command] = GetParam();
    const QByteArray bytes = instrument->getCommand(command);
    QTemporaryDir dir;
    util::WindowInstance::Location where{dir.filePath("w.socket"), dir.filePath("w.lock"), {}};
    util::WindowInstance channel(where);
    ASSERT_EQ(channel.claim(std::nullopt).outcome, util::WindowInstance::Outcome::Own);
    instance = &channel;
    PressableHotkey* hotkey = nullptr;
    hotkeys = [&](const platform::HotkeyChord&, std::function<void()> pressed) {
        auto made = std::make_unique<PressableHotkey>(std::move(pressed));
        hotkey = made.get();
        return std::unique_ptr<platform::GlobalHotkey>(std::move(made));
    };
    VudareDiVezFrame2& w =
        startWith(instrument->nameLatin1(), [](config::Config& s) { s.requestHotkey = QStringLiteral("Ctrl+Alt+W"); });
    ASSERT_TRUE(w.isConnected());
    drainPort();

    QTest::mouseClick(w.readingPanel->button(command), Qt::LeftButton);
    EXPECT_EQ(sentToPort(bytes.size()), bytes) << "button";

    util::WindowInstance::Answer answer;
    std::atomic<bool> done{false};
    std::thread sender([&] {
        answer = util::WindowInstance::ask(where.socket, config::commandName(command), QString(), 10000);
        done = true;
    });
    processEventsUntil([&] { return done.load(); }, 20000);
    sender.join();
    EXPECT_TRUE(answer.ok) << answer.text.toStdString();
    EXPECT_EQ(sentToPort(bytes.size()), bytes) << "--send";

    if (command == InstrumentCommand::Request) {
        ASSERT_NE(hotkey, nullptr);
        hotkey->pressed();
        EXPECT_EQ(sentToPort(bytes.size()), bytes) << "hotkey";
    }
    // What went out is in the event log, with where it came from.
    const QString log = eventLogText(w);
    EXPECT_TRUE(log.contains("sent to the instrument from the window")) << log.toStdString();
    EXPECT_TRUE(log.contains("sent to the instrument from tavlo --send")) << log.toStdString();
    m_window.reset(); // before the channel it answers on
}

INSTANTIATE_TEST_SUITE_P(Profiles, BenchCommandTest, ::testing::ValuesIn(profileCommands()), [](const auto& info) {
    return std::string(info.param.first->nameLatin1()) + '_' + config::commandName(info.param.second).toStdString();
});

TEST_F(BenchTest, SendSaysWhyACommandCannotBeCarriedOutAndStartsAndStopsTheWindow) {
    QTemporaryDir dir;
    util::WindowInstance::Location where{dir.filePath("w.socket"), dir.filePath("w.lock"), {}};
    util::WindowInstance channel(where);
    ASSERT_EQ(channel.claim(std::nullopt).outcome, util::WindowInstance::Outcome::Own);
    instance = &channel;
    tspSimAddPort("COM5", nullptr, nullptr);
    storeSettings([](config::Config& s) { s.setInstrument(H::Instrument::valueOf(QStringLiteral("GENERIC"))); });
    VudareDiVezFrame2& w = open();
    const auto send = [&](const QString& command, const QString& argument = QString()) {
        util::WindowInstance::Answer answer;
        std::atomic<bool> done{false};
        std::thread sender([&] {
            answer = util::WindowInstance::ask(where.socket, command, argument, 10000);
            done = true;
        });
        processEventsUntil([&] { return done.load(); }, 20000);
        sender.join();
        EXPECT_TRUE(answer.replied) << command.toStdString();
        return answer;
    };

    auto answer = send("request");
    EXPECT_FALSE(answer.ok);
    EXPECT_TRUE(answer.text.contains("has no request command")) << answer.text.toStdString();
    answer = send("stop");
    EXPECT_TRUE(answer.ok);
    EXPECT_EQ(answer.text, "The window was not reading.");
    answer = send("start");
    EXPECT_TRUE(answer.ok) << answer.text.toStdString();
    EXPECT_TRUE(w.isConnected());
    answer = send("start");
    EXPECT_TRUE(answer.ok);
    EXPECT_EQ(answer.text, "The window is reading already.");
    answer = send("tare");
    EXPECT_FALSE(answer.ok);
    EXPECT_TRUE(answer.text.contains("has no tare command")) << answer.text.toStdString();
    answer = send("stop");
    EXPECT_TRUE(answer.ok);
    ASSERT_TRUE(processEventsUntil([&] { return !w.isConnected(); }));

    // A later start with a port of its own: the window comes forward and keeps its port.
    answer = send("show", "COM9");
    EXPECT_TRUE(answer.ok);
    EXPECT_EQ(answer.text, "COM5");
    EXPECT_TRUE(eventLogText(w).contains("started again with the port COM9; this window keeps COM5"));
    EXPECT_EQ(w.config().getPort(), "COM5");
    EXPECT_FALSE(send("calibrate").ok);

    // A start that fails says why, with the window's own message.
    tspSimSetOpenResult("COM5", -5);
    answer = send("start");
    EXPECT_FALSE(answer.ok);
    EXPECT_FALSE(answer.text.isEmpty());
    EXPECT_EQ(answer.text, dialogs.boxes.isEmpty() ? QString() : dialogs.boxes.last().text);
    EXPECT_FALSE(w.isConnected());
    m_window.reset(); // before the channel it answers on
}

// The hotkey: taken at Start and let go at Stop, a request only once the modifiers are up, a combination that
// another program holds named (the setting stays), and a session without global keys told once.
class BenchHotkeyTest : public BenchTest {
protected:
    void useHotkeys(std::function<void(PressableHotkey*)> made, std::optional<platform::HotkeyError> failure = {}) {
        hotkeys = [this, made, failure](const platform::HotkeyChord& chord, std::function<void()> pressed) {
            ++taken;
            lastChord = chord;
            if (failure)
                throw *failure;
            auto hotkey = std::make_unique<PressableHotkey>(std::move(pressed));
            if (made)
                made(hotkey.get());
            return std::unique_ptr<platform::GlobalHotkey>(std::move(hotkey));
        };
    }
    int taken = 0;
    platform::HotkeyChord lastChord;
};

TEST_F(BenchHotkeyTest, TakenWhileRunningAndTheRequestWaitsUntilItsKeysAreUp) {
    PressableHotkey* current = nullptr;
    useHotkeys([&](PressableHotkey* h) { current = h; });
    tspSimAddPort("COM5", nullptr, nullptr);
    storeSettings([](config::Config& s) {
        s.setInstrument(H::Instrument::valueOf(QStringLiteral("MITUTOYO")));
        s.requestHotkey = QStringLiteral("Ctrl+Alt+W");
    });
    VudareDiVezFrame2& w = open();
    EXPECT_EQ(taken, 0);
    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return w.isConnected() && current; }));
    EXPECT_EQ(taken, 1);
    EXPECT_EQ(lastChord.modifiers, unsigned(platform::HotkeyChord::Control | platform::HotkeyChord::Alt));
    EXPECT_EQ(lastChord.character, std::uint32_t('W'));
    drainPort();

    current->held = true;
    current->pressed();
    // Typed now, the reading would combine with Ctrl and Alt: nothing goes out while the keys are held.
    processEventsUntil([] { return false; }, 10 * RequestHotkey::kTickMs);
    uint8_t buffer[16];
    EXPECT_EQ(tspSimTakeOutput("COM5", buffer, sizeof buffer), 0);
    current->pressed(); // a second press while waiting makes no second request
    current->held = false;
    EXPECT_EQ(sentToPort(2), QByteArray("1\r"));
    processEventsUntil([] { return false; }, 5 * RequestHotkey::kTickMs);
    EXPECT_EQ(tspSimTakeOutput("COM5", buffer, sizeof buffer), 0);
    EXPECT_TRUE(eventLogText(w).contains("sent to the instrument from the hotkey Ctrl+Alt+W"));

    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return !w.isConnected(); }));
    current = nullptr;
    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return w.isConnected() && current; }));
    EXPECT_EQ(taken, 2);
}

TEST_F(BenchHotkeyTest, ACombinationThatAnotherProgramHoldsIsNamedAndTheSettingStays) {
    useHotkeys({}, platform::HotkeyError(platform::HotkeyError::Kind::Taken, "another program holds it"));
    VudareDiVezFrame2& w = startWith("MITUTOYO", [](config::Config& s) { s.requestHotkey = "Ctrl+Alt+W"; });
    EXPECT_EQ(taken, 1);
    const QString log = eventLogText(w);
    EXPECT_TRUE(log.contains("The hotkey Ctrl+Alt+W is held by another program")) << log.toStdString();
    EXPECT_EQ(w.config().requestHotkey, "Ctrl+Alt+W");
    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return !w.isConnected(); }));
    w.close();
    EXPECT_EQ(stored("requestHotkey"), "Ctrl+Alt+W");
}

TEST_F(BenchHotkeyTest, WithoutGlobalKeysItSaysSoOnceAndPointsToSend) {
    useHotkeys({}, platform::HotkeyError(platform::HotkeyError::Kind::Unavailable, "a Wayland session says no"));
    VudareDiVezFrame2& w = startWith("MITUTOYO", [](config::Config& s) { s.requestHotkey = "F9"; });
    for (int run = 0; run < 2; ++run) {
        QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
        ASSERT_TRUE(processEventsUntil([&] { return w.isConnected() == (run == 1); }));
    }
    EXPECT_EQ(eventLogText(w).count("tavlo --send request"), 1) << eventLogText(w).toStdString();
    EXPECT_EQ(taken, 2);
}

struct HotkeyFieldCase {
    const char* name;
    int key;
    Qt::KeyboardModifiers modifiers;
    const char* stored; // the setting afterwards; the one before was "Ctrl+Alt+Q"
    const char* note;   // a part of the note under the field
};

class HotkeyFieldTest : public BenchHotkeyTest, public ::testing::WithParamInterface<HotkeyFieldCase> {};

TEST_P(HotkeyFieldTest, TheOutputTabTakesOneCombinationAndRefusesKeysThatAppsType) {
    const HotkeyFieldCase& c = GetParam();
    useHotkeys({});
    tspSimAddPort("COM5", nullptr, nullptr);
    storeSettings([](config::Config& s) { s.requestHotkey = QStringLiteral("Ctrl+Alt+Q"); });
    VudareDiVezFrame2& w = open();
    EXPECT_EQ(w.requestHotkeyEdit->keySequence().toString(QKeySequence::PortableText), "Ctrl+Alt+Q");
    w.tabbedPane()->setCurrentIndex(VudareDiVezFrame2::OutputTab);
    w.requestHotkeyEdit->setFocus();
    // The field takes the combination a moment after the key is let go.
    bool finished = false;
    QObject scope; // the connection ends with the test's variables
    QObject::connect(w.requestHotkeyEdit, &QKeySequenceEdit::editingFinished, &scope, [&] { finished = true; });
    QTest::keyClick(w.requestHotkeyEdit, Qt::Key(c.key), c.modifiers);
    ASSERT_TRUE(processEventsUntil([&] { return finished; }));
    EXPECT_EQ(w.config().requestHotkey, c.stored);
    EXPECT_EQ(w.requestHotkeyEdit->keySequence().toString(QKeySequence::PortableText), c.stored);
    EXPECT_TRUE(w.requestHotkeyNote->text().contains(QLatin1String(c.note)))
        << w.requestHotkeyNote->text().toStdString();
    // Saved when the tab is left; cleared, the key leaves the store.
    w.tabbedPane()->setCurrentIndex(VudareDiVezFrame2::StartTab);
    EXPECT_EQ(stored("requestHotkey"), c.stored);
    w.tabbedPane()->setCurrentIndex(VudareDiVezFrame2::OutputTab);
    QTest::mouseClick(w.requestHotkeyClearButton, Qt::LeftButton);
    w.tabbedPane()->setCurrentIndex(VudareDiVezFrame2::StartTab);
    EXPECT_EQ(stored("requestHotkey"), "<none>");
}

INSTANTIATE_TEST_SUITE_P(
    Keys, HotkeyFieldTest,
    ::testing::Values(
        HotkeyFieldCase{"CtrlAltW", Qt::Key_W, Qt::ControlModifier | Qt::AltModifier, "Ctrl+Alt+W", "Pressed anywhere"},
        HotkeyFieldCase{"FunctionKeyAlone", Qt::Key_F9, Qt::NoModifier, "F9", "Pressed anywhere"},
        HotkeyFieldCase{"LogoKey", Qt::Key_1, Qt::MetaModifier, "Meta+1", "Pressed anywhere"},
        HotkeyFieldCase{"LetterAlone", Qt::Key_W, Qt::NoModifier, "Ctrl+Alt+Q", "would be taken from every"},
        HotkeyFieldCase{"ShiftLetter", Qt::Key_W, Qt::ShiftModifier, "Ctrl+Alt+Q", "would be taken from every"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BenchHotkeyTest, TheOutputTabNamesACombinationHeldElsewhereWhileItIsChosen) {
    useHotkeys({}, platform::HotkeyError(platform::HotkeyError::Kind::Taken, "held"));
    tspSimAddPort("COM5", nullptr, nullptr);
    VudareDiVezFrame2& w = open();
    w.tabbedPane()->setCurrentIndex(VudareDiVezFrame2::OutputTab);
    w.requestHotkeyEdit->setFocus();
    bool finished = false;
    QObject scope; // the connection ends with the test's variables
    QObject::connect(w.requestHotkeyEdit, &QKeySequenceEdit::editingFinished, &scope, [&] { finished = true; });
    QTest::keyClick(w.requestHotkeyEdit, Qt::Key_W, Qt::ControlModifier | Qt::AltModifier);
    ASSERT_TRUE(processEventsUntil([&] { return finished; }));
    EXPECT_EQ(w.config().requestHotkey, "Ctrl+Alt+W");
    EXPECT_TRUE(w.requestHotkeyNote->text().contains("held by another program"))
        << w.requestHotkeyNote->text().toStdString();
    EXPECT_EQ(taken, 1);
}

} // namespace
