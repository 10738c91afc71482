// The window's controls for stable values only, the data log and network instruments.
#include "WindowFixture.h"

#include "config/Instrument.h"
#include "tavlo/EventLog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTcpServer>
#include <QTest>

using namespace tavlo;
using tavlo::test::processEventsUntil;
using tavlo::test::tavloText;
using H = tavlo::config::ConfigHelper;

namespace {

class AdditionsTest : public test::WindowFixture {};

TEST_F(AdditionsTest, StableOnlyIsOfferedOnlyForProfilesWithARuleAndIsStored) {
    VudareDiVezFrame2& w = open();
    QTabWidget* tabs = w.tabbedPane();
    tabs->setCurrentIndex(VudareDiVezFrame2::InputTab);
    w.instrumentBox->setCurrentIndex(H::Instrument::GENERIC.ordinal());
    EXPECT_FALSE(w.stableOnlyCheckBox->isEnabled());
    EXPECT_TRUE(w.stableOnlyCheckBox->toolTip().contains(H::Instrument::GENERIC.toString()));

    w.instrumentBox->setCurrentIndex(H::Instrument::AND.ordinal());
    EXPECT_TRUE(w.stableOnlyCheckBox->isEnabled());
    EXPECT_EQ(stored("stableOnly"), "<none>");
    tabs->setCurrentIndex(VudareDiVezFrame2::ProcessingTab);
    w.stableOnlyCheckBox->setChecked(true);
    tabs->setCurrentIndex(VudareDiVezFrame2::StartTab); // leaving Processing saves
    EXPECT_EQ(stored("stableOnly"), "true");
    tabs->setCurrentIndex(VudareDiVezFrame2::ProcessingTab);
    w.stableOnlyCheckBox->setChecked(false);
    tabs->setCurrentIndex(VudareDiVezFrame2::StartTab);
    EXPECT_EQ(stored("stableOnly"), "<none>"); // off leaves the store as it always was
}

TEST_F(AdditionsTest, TheStationNameIsStoredFromTheServicesTabOnlyWhileSet) {
    VudareDiVezFrame2& w = open();
    QTabWidget* tabs = w.tabbedPane();
    tabs->setCurrentIndex(VudareDiVezFrame2::ServicesTab);
    EXPECT_FALSE(w.stationField->placeholderText().isEmpty()) << "the host name stands in for an empty name";
    w.stationField->setText(QStringLiteral("  scale-4 "));
    tabs->setCurrentIndex(VudareDiVezFrame2::StartTab); // leaving Services saves
    EXPECT_EQ(stored("station"), "scale-4");
    tabs->setCurrentIndex(VudareDiVezFrame2::ServicesTab);
    w.stationField->clear();
    tabs->setCurrentIndex(VudareDiVezFrame2::StartTab);
    EXPECT_EQ(stored("station"), "<none>");
}

TEST_F(AdditionsTest, BrowseChoosesTheDataLogFileAndTheCheckBoxTurnsItOnAndOff) {
    VudareDiVezFrame2& w = open();
    QTabWidget* tabs = w.tabbedPane();
    tabs->setCurrentIndex(VudareDiVezFrame2::OutputTab);
    dialogs.saveFile = QStringLiteral("/tmp/bench readings.csv");
    w.dataLogBrowseButton->click();
    EXPECT_EQ(w.dataLogPathField->text(), "/tmp/bench readings.csv");
    EXPECT_TRUE(w.dataLogCheckBox->isChecked());
    tabs->setCurrentIndex(VudareDiVezFrame2::StartTab);
    EXPECT_EQ(stored("dataLogFile"), "/tmp/bench readings.csv");

    tabs->setCurrentIndex(VudareDiVezFrame2::OutputTab);
    w.dataLogCheckBox->setChecked(false);
    tabs->setCurrentIndex(VudareDiVezFrame2::StartTab);
    EXPECT_EQ(stored("dataLogFile"), "<none>");
    EXPECT_EQ(w.dataLogPathField->text(), "/tmp/bench readings.csv"); // kept for turning it on again
}

TEST_F(AdditionsTest, ATypedNetworkAddressDisablesTheSerialSettingsAndSurvivesRefresh) {
    tspSimAddPort("COM5", nullptr, nullptr);
    VudareDiVezFrame2& w = open(std::nullopt);
    QTabWidget* tabs = w.tabbedPane();
    tabs->setCurrentIndex(VudareDiVezFrame2::InputTab);
    ASSERT_TRUE(w.portList->isEditable());
    EXPECT_TRUE(w.bitRateBox->isEnabled());
    w.portList->lineEdit()->clear();
    QTest::keyClicks(w.portList->lineEdit(), "tcp://192.0.2.7:4001");
    EXPECT_FALSE(w.bitRateBox->isEnabled());
    EXPECT_FALSE(w.parityBox->isEnabled());
    EXPECT_TRUE(w.inputTerminatorBox->isEnabled()); // records are still framed

    w.refreshPortsButton->click();
    EXPECT_EQ(w.portList->currentText(), "tcp://192.0.2.7:4001");
    tabs->setCurrentIndex(VudareDiVezFrame2::StartTab);
    EXPECT_EQ(stored("port"), "tcp://192.0.2.7:4001");
    EXPECT_EQ(stored("prevPort"), "tcp://192.0.2.7:4001");

    tabs->setCurrentIndex(VudareDiVezFrame2::InputTab);
    w.portList->setCurrentIndex(w.portList->findData(QStringLiteral("COM5")));
    EXPECT_TRUE(w.bitRateBox->isEnabled());
}

TEST_F(AdditionsTest, AutomaticStartTreatsAStoredNetworkAddressAsAvailable) {
    QTcpServer instrument;
    ASSERT_TRUE(instrument.listen(QHostAddress::LocalHost));
    const QString address = QStringLiteral("tcp://127.0.0.1:%1").arg(instrument.serverPort());
    storeSettings([&](config::Config& c) {
        c.setPort(address);
        c.setConnect(&H::Connect::AUTO);
        c.abortAutoStartWhenPrevPortNotAvailable = true;
    });
    tspSimAddPort("COM5", nullptr, nullptr);
    VudareDiVezFrame2& w = open(std::nullopt);
    EXPECT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join('\n').toStdString();
    ASSERT_TRUE(processEventsUntil([&] {
        w.eventLog()->flushPending();
        return w.eventLog()->toPlainText().contains("Connected to " + address + ".");
    }));
    EXPECT_FALSE(w.eventLog()->toPlainText().contains("RTS:"));
}

} // namespace
