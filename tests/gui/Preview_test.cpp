// The Processing tab's record preview and the labels, hints and dialogs a first-time user reads.
#include "WindowFixture.h"

#include "config/Instrument.h"
#include "tavlo/EventLog.h"
#include "tavlo/PreviewPanel.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>

using namespace tavlo;
using tavlo::test::processEventsUntil;
using tavlo::test::tavloText;
using H = tavlo::config::ConfigHelper;

namespace {

class PreviewTest : public test::WindowFixture {};

// The (text, style) pieces of the preview's log lines.
QList<QPair<QString, QString>> previewSpans(EventLog& log) {
    log.flushPending();
    QList<QPair<QString, QString>> spans;
    for (QTextBlock block = log.document()->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            spans.append(
                {it.fragment().text(), it.fragment().charFormat().property(EventLog::kStyleProperty).toString()});
    return spans;
}

TEST_F(PreviewTest, ShowsWhatARecordGivesWithTheUnsavedSettings) {
    VudareDiVezFrame2& w = open();
    PreviewPanel& p = *w.previewPanel;
    w.startWithBox->setCurrentIndex(H::StartWith::TAB.ordinal());
    w.outputTerminatorBox->setCurrentIndex(H::OutputTerminator::ENTER.ordinal());
    p.recordField->setText(QStringLiteral("ST,GS,-0000.500 kg\\r\\n"));
    EXPECT_EQ(p.extractedLabel->text(), "\"-0000.500\"");
    EXPECT_EQ(p.typedLabel->text(), "<TAB>-0.500<ENTER>");
    EXPECT_TRUE(p.reasonLabel->text().isEmpty()) << p.reasonLabel->text().toStdString();
    EXPECT_TRUE(previewSpans(*p.logView).contains(qMakePair(QStringLiteral("-0000.500"), QStringLiteral("typed"))));

    // A change in a field counts while it is typed, before the field is left, and nothing was saved.
    w.decimalTextField->setText(QStringLiteral("1"));
    w.mathOperationBox->setCurrentIndex(H::MathOperation::MULTIPLY.ordinal());
    w.mathOperandTextField->setText(QStringLiteral("3"));
    EXPECT_EQ(p.typedLabel->text(), "<TAB>-1.5<ENTER>");
    EXPECT_EQ(w.config().getDecimalPlaces(), "");
    EXPECT_TRUE(dialogs.boxes.isEmpty());
}

TEST_F(PreviewTest, TellsWhyNothingWouldBeTyped) {
    VudareDiVezFrame2& w = open();
    PreviewPanel& p = *w.previewPanel;
    p.recordField->setText(QStringLiteral("no digits here"));
    EXPECT_EQ(p.typedLabel->text(), "(nothing)");
    EXPECT_TRUE(p.reasonLabel->text().contains("does not match")) << p.reasonLabel->text().toStdString();
    EXPECT_EQ(previewSpans(*p.logView).value(0).second, "ignored");

    p.recordField->setText(QStringLiteral("bad \\q escape"));
    EXPECT_TRUE(p.reasonLabel->text().contains("\\q")) << p.reasonLabel->text().toStdString();
}

TEST_F(PreviewTest, TheTerminatorIsAddedAndEachFramedRecordIsShown) {
    VudareDiVezFrame2& w = open();
    PreviewPanel& p = *w.previewPanel;
    // CR is the default input terminator: two records, the second without its terminator yet.
    p.recordField->setText(QStringLiteral("1.5\\r2.5"));
    EXPECT_EQ(p.typedLabel->text(), "1.5\n2.5");
}

TEST_F(PreviewTest, OffersTheSelectedInstrumentsSampleRecords) {
    VudareDiVezFrame2& w = open();
    PreviewPanel& p = *w.previewPanel;
    w.instrumentBox->setCurrentIndex(H::Instrument::ADAM_CBK.ordinal());
    QStringList expected;
    for (const auto& sample : H::Instrument::ADAM_CBK.getTestStrings())
        if (!sample.first.isEmpty())
            expected.append(escapeSample(sample.first));
    ASSERT_FALSE(expected.isEmpty());
    QStringList offered;
    for (int i = 0; i < p.sampleBox->count(); ++i)
        offered.append(p.sampleBox->itemText(i));
    EXPECT_EQ(offered, expected);
    p.sampleBox->setCurrentIndex(expected.size() - 1);
    emit p.sampleBox->activated(expected.size() - 1);
    EXPECT_EQ(p.recordField->text(), expected.last());
    EXPECT_NE(p.typedLabel->text(), "(nothing)");
}

TEST_F(PreviewTest, LabelsHintsAndFonts) {
    VudareDiVezFrame2& w = open();
    EXPECT_EQ(w.roundingMethodLabel->text(), tavloText("VudareDiVezFrame2.roundingMethodLabel.text"));
    EXPECT_EQ(w.roundingMethodLabel->buddy(), w.roundingMethodBox);
    bool charactersSaid = false;
    for (QLabel* label : w.editNumCharactersTextField->parentWidget()->findChildren<QLabel*>())
        charactersSaid = charactersSaid || label->text().startsWith(QLatin1String("characters"));
    EXPECT_TRUE(charactersSaid);
    EXPECT_EQ(w.eventLog()->font().family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
    EXPECT_EQ(w.eventLog()->lineWrapMode(), QPlainTextEdit::WidgetWidth);
}

TEST_F(PreviewTest, StartHintChangesWhileRunning) {
    tspSimAddPort("COM5", nullptr, nullptr);
    VudareDiVezFrame2& w = open();
    const QString idle = w.startHintLabel->text();
    EXPECT_EQ(idle, tavloText("VudareDiVezFrame2.startHint.text"));
    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return w.isConnected(); }));
    EXPECT_TRUE(w.startHintLabel->text().contains("Press Stop")) << w.startHintLabel->text().toStdString();
    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return !w.isConnected(); }));
    EXPECT_EQ(w.startHintLabel->text(), idle);
}

TEST_F(PreviewTest, ExportAndImportDialogsHaveTitlesAndAnXmlFilter) {
    VudareDiVezFrame2& w = open();
    w.exportSettingsButton->click();
    w.importSettingsButton->click();
    ASSERT_EQ(dialogs.fileDialogs.size(), 2);
    EXPECT_TRUE(dialogs.fileDialogs[0].startsWith("Export settings|XML settings files (*.xml);;"));
    EXPECT_TRUE(dialogs.fileDialogs[1].startsWith("Import settings|XML settings files (*.xml);;"));
}

TEST_F(PreviewTest, TheInvalidSettingsMessageNamesEachKey) {
    m_store->settingsNode().put(QStringLiteral("bitRate"), QStringLiteral("99"));
    m_store->settingsNode().put(QStringLiteral("instrument"), QStringLiteral("GONE"));
    open();
    const QString all = dialogs.texts().join('\n');
    EXPECT_TRUE(all.contains("bitRate: stored \"99\" is not valid; 9600 is used")) << all.toStdString();
    EXPECT_TRUE(all.contains("instrument: stored \"GONE\" is not valid; ")) << all.toStdString();
}

} // namespace
