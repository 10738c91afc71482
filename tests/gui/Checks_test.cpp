// The option checks of the main window's fields and its two editing dialogs.
#include "WindowFixture.h"

#include "base/ResourceBundle.h"
#include "config/Instrument.h"
#include "tavlo/CustomRegExDialog.h"
#include "tavlo/DecimalSeparatorBox.h"
#include "tavlo/IgnoreDialog.h"
#include "tavlo/InputTerminatorBox.h"
#include "tavlo/TraySupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace tavlo;
using tavlo::test::processEventsUntil;
using tavlo::test::tavloText;
using H = tavlo::config::ConfigHelper;

namespace {

struct FieldCase {
    const char* name;
    QLineEdit* VudareDiVezFrame2::*field;
    const char* text;
    bool accepted;
    const char* stored; // the setting afterwards, when accepted
    QString (*setting)(const config::Config&);
    const char* errorKey;
};

QString operand(const config::Config& c) {
    return c.getMathOperand();
}
QString places(const config::Config& c) {
    return c.getDecimalPlaces();
}
QString everyX(const config::Config& c) {
    return c.getEveryXValues();
}
QString edit(const config::Config& c) {
    return c.getEditNumCharacters();
}
QString removeChars(const config::Config& c) {
    return c.getRemoveCharacters();
}

class FieldCheckTest : public test::WindowFixture, public ::testing::WithParamInterface<FieldCase> {};

TEST_P(FieldCheckTest, LeavingTheField) {
    const FieldCase& c = GetParam();
    VudareDiVezFrame2& w = open();
    QLineEdit* field = w.*(c.field);
    FieldChecker* checker = w.checkerFor(field);
    ASSERT_NE(checker, nullptr);
    field->setText(QString::fromUtf8(c.text));
    EXPECT_EQ(checker->shouldYieldFocus(field), c.accepted);
    if (c.accepted) {
        EXPECT_EQ(c.setting(w.config()), QString::fromUtf8(c.stored));
        EXPECT_TRUE(dialogs.boxes.isEmpty());
    } else {
        ASSERT_EQ(dialogs.boxes.size(), 1);
        EXPECT_EQ(dialogs.boxes[0].title, tavloText("error"));
        EXPECT_EQ(dialogs.boxes[0].text, tavloText(c.errorKey));
        EXPECT_TRUE(field->text().isEmpty());
    }
}

using F = VudareDiVezFrame2;
INSTANTIATE_TEST_SUITE_P(
    Window, FieldCheckTest,
    ::testing::Values(
        FieldCase{"operandComma", &F::mathOperandTextField, "2,5", true, "2.5", operand, ""},
        FieldCase{"operandZero", &F::mathOperandTextField, "0", false, "", operand, "error.math.operand"},
        FieldCase{"operandZeroPoint", &F::mathOperandTextField, "0.0", true, "0.0", operand, ""},
        FieldCase{"operandEmpty", &F::mathOperandTextField, "", true, "", operand, ""},
        FieldCase{"operandText", &F::mathOperandTextField, "x", false, "", operand, "error.math.operand"},
        FieldCase{"places7", &F::decimalTextField, "7", true, "7", places, ""},
        FieldCase{"places8", &F::decimalTextField, "8", false, "", places, "error.decimal.places"},
        FieldCase{"placesMinus", &F::decimalTextField, "-1", false, "", places, "error.decimal.places"},
        FieldCase{"everyX1", &F::everyXValuesTextField, "1", false, "", everyX, "error.edit.everyXValues"},
        FieldCase{"everyX2", &F::everyXValuesTextField, "2", true, "2", everyX, ""},
        FieldCase{"everyX99", &F::everyXValuesTextField, "99", true, "99", everyX, ""},
        FieldCase{"everyX100", &F::everyXValuesTextField, "100", false, "", everyX, "error.edit.everyXValues"},
        FieldCase{"edit0", &F::editNumCharactersTextField, "0", false, "", edit, "error.edit.numCharacters"},
        FieldCase{"edit1", &F::editNumCharactersTextField, "1", true, "1", edit, ""},
        FieldCase{"removeLatin1", &F::removeCharactersTextField, "g\xc2\xb5", true, "g\xc2\xb5", removeChars, ""},
        FieldCase{"removeEuro", &F::removeCharactersTextField, "\xe2\x82\xac", false, "", removeChars,
                  "error.edit.removeCharacters"}),
    [](const auto& info) { return std::string(info.param.name); });

class ChecksTest : public test::WindowFixture {};

TEST_F(ChecksTest, TakingTheTabsChecksFieldsThatWereNeverLeft) {
    VudareDiVezFrame2& w = open();
    w.decimalTextField->setText(QStringLiteral("9"));
    w.everyXValuesTextField->setText(QStringLiteral("1"));
    w.updateConfigFromTabs();
    EXPECT_TRUE(w.config().getDecimalPlaces().isEmpty());
    EXPECT_TRUE(w.config().getEveryXValues().isEmpty());
    EXPECT_EQ(dialogs.texts(), QStringList({tavloText("error.decimal.places"), tavloText("error.edit.everyXValues")}));
}

TEST_F(ChecksTest, DelayRangeAndTheAllLayoutsFloor) {
    VudareDiVezFrame2& w = open();
    w.delayTextField->setText(QStringLiteral("1001"));
    QTest::keyClick(w.delayTextField, Qt::Key_Return);
    EXPECT_EQ(w.delayTextField->text(), QLatin1String("20"));
    EXPECT_EQ(dialogs.texts(), QStringList{tavloText("error.intercharacter.delay")});
    EXPECT_EQ(w.config().getDelay(), "20");

    dialogs.boxes.clear();
    w.delayTextField->setText(QStringLiteral("2"));
    w.keyboardTypeBox->setCurrentIndex(H::KeyboardType::ALL.ordinal());
    EXPECT_EQ(w.delayTextField->text(), QLatin1String("3"));
    EXPECT_EQ(dialogs.boxes.value(0).title, tavloText("info"));
    EXPECT_EQ(dialogs.boxes.value(0).text, tavloText("info.delay.keyboard.all"));
    w.updateConfigFromTabs();
    EXPECT_EQ(w.config().getDelay(), "3");
}

// Typing 15 with "Any layout" once objected to the 1 and left 35 behind: the check waits for the whole value.
TEST_F(ChecksTest, DelayIsCheckedWhenTheValueIsCompleteNotPerKeystroke) {
    VudareDiVezFrame2& w = open();
    w.keyboardTypeBox->setCurrentIndex(H::KeyboardType::ALL.ordinal());
    dialogs.boxes.clear();
    w.delayTextField->setFocus();
    w.delayTextField->selectAll();
    QTest::keyClick(w.delayTextField, Qt::Key_Backspace);
    EXPECT_TRUE(dialogs.boxes.isEmpty()) << "an empty field being edited is no error";
    QTest::keyClicks(w.delayTextField, QStringLiteral("15"));
    EXPECT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join('\n').toStdString();
    EXPECT_EQ(w.delayTextField->text(), QLatin1String("15"));
    QTest::keyClick(w.delayTextField, Qt::Key_Return);
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    EXPECT_EQ(w.config().getDelay(), "15");

    w.delayTextField->selectAll();
    QTest::keyClicks(w.delayTextField, QStringLiteral("2"));
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    QTest::keyClick(w.delayTextField, Qt::Key_Return);
    EXPECT_EQ(dialogs.texts(), QStringList{tavloText("info.delay.keyboard.all")});
    EXPECT_EQ(w.delayTextField->text(), QLatin1String("3"));
    EXPECT_EQ(w.config().getDelay(), "3");

    // Taking the tabs checks a value that was never completed.
    dialogs.boxes.clear();
    w.delayTextField->setText(QStringLiteral("1"));
    w.updateConfigFromTabs();
    EXPECT_EQ(dialogs.texts(), QStringList{tavloText("info.delay.keyboard.all")});
    EXPECT_EQ(w.config().getDelay(), "3");
}

TEST_F(ChecksTest, TypedInputTerminator) {
    VudareDiVezFrame2& w = open();
    w.inputTerminatorBox->setEditText(QStringLiteral("13"));
    w.inputTerminatorBoxItemStateChanged();
    EXPECT_EQ(w.config().getInputTerminator(), 13);
    w.inputTerminatorBox->setEditText(QStringLiteral("256"));
    w.inputTerminatorBoxItemStateChanged();
    EXPECT_EQ(w.config().getInputTerminator(), 13);
    EXPECT_EQ(dialogs.texts(), QStringList{tavloText("terminator.must.be.between.0.and.255")});
    EXPECT_EQ(w.inputTerminatorBox->currentText(), H::InputTerminator::CR.display());
    InputTerminatorBox::setSelectedItem(*w.inputTerminatorBox, 59);
    EXPECT_EQ(InputTerminatorBox::selectedCode(*w.inputTerminatorBox), 59);
}

TEST_F(ChecksTest, MathOperationRules) {
    VudareDiVezFrame2& w = open();
    w.mathOperandTextField->setText(QStringLiteral("2"));
    w.mathOperationBox->setCurrentIndex(H::MathOperation::DIVIDE.ordinal());
    w.updateConfigFromTabs(); // the division message is shown once, however often the check runs
    ASSERT_TRUE(processEventsUntil([&] { return !dialogs.boxes.isEmpty(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogs.texts(),
              QStringList{tavloText("please.enter.number.of.decimal.places.for.rounding.or.disable.division")});
    w.mathOperationBox->setCurrentIndex(H::MathOperation::NONE.ordinal());
    EXPECT_TRUE(w.mathOperandTextField->text().isEmpty());
    w.mathOperationBox->setCurrentIndex(H::MathOperation::MULTIPLY.ordinal());
    w.updateConfigFromTabs(); // no operand: back to none
    EXPECT_EQ(w.config().getMathOperation(), &H::MathOperation::NONE);
}

TEST_F(ChecksTest, NumberOnlyControlsFollowTheInstrumentKind) {
    VudareDiVezFrame2& w = open();
    w.instrumentBox->setCurrentIndex(H::Instrument::BARCODE.ordinal());
    EXPECT_FALSE(w.decimalSeparatorBox->isEnabled());
    EXPECT_FALSE(w.mathOperationBox->isEnabled());
    EXPECT_FALSE(w.roundingMethodBox->isEnabled());
    w.instrumentBox->setCurrentIndex(H::Instrument::KERN_MPS.ordinal());
    EXPECT_TRUE(w.decimalSeparatorBox->isEnabled());
    EXPECT_TRUE(w.decimalTextField->isEnabled());
}

TEST_F(ChecksTest, InstrumentChangeAsksBeforeDroppingTheCustomExpression) {
    VudareDiVezFrame2& w = open();
    w.config().setCustomRegEx(QStringLiteral("(\\d+)"));
    dialogs.answer = false;
    w.instrumentBox->setCurrentIndex(H::Instrument::KERN_MPS.ordinal());
    EXPECT_EQ(w.config().getCustomRegEx(), "(\\d+)");
    dialogs.answer = true;
    w.instrumentBox->setCurrentIndex(H::Instrument::OHAUS.ordinal());
    EXPECT_TRUE(w.config().getCustomRegEx().isEmpty());
    EXPECT_EQ(dialogs.questions.size(), 2);
}

TEST_F(ChecksTest, TrayCheckBoxesWithoutATray) {
    VudareDiVezFrame2& w = open();
    if (TraySupport::available())
        GTEST_SKIP() << "this desktop has a tray";
    EXPECT_FALSE(w.minimizeToTrayCheckBox->isEnabled());
    EXPECT_EQ(w.minimizeToTrayCheckBox->toolTip(), tavloText("tray.unavailable"));
}

TEST(TraySupportTest, IconSizeByTrayWidth) {
    const std::pair<int, int> cases[] = {{12, 16}, {16, 16}, {17, 20}, {20, 20},
                                         {22, 24}, {24, 24}, {25, 32}, {64, 32}};
    for (const auto& [width, size] : cases)
        EXPECT_EQ(TraySupport::iconSizeFor(width), size) << width;
}

struct IgnoreCase {
    const char* name;
    const char* time;
    const char* difference;
    bool accepted;
    const char* storedDifference;
};

class IgnoreDialogTest : public ::testing::TestWithParam<IgnoreCase> {};

TEST_P(IgnoreDialogTest, Ok) {
    const IgnoreCase& c = GetParam();
    test::ScriptedDialogs dialogs;
    IgnoreDialog dialog(nullptr, QStringLiteral("100"), QStringLiteral("0.1"), dialogs);
    dialog.ignoreTimeLimitTextField()->setText(QString::fromLatin1(c.time));
    dialog.ignoreDifferenceTextField()->setText(QString::fromLatin1(c.difference));
    dialog.show();
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result() == QDialog::Accepted, c.accepted);
    EXPECT_EQ(dialogs.boxes.size(), c.accepted ? 0 : 1);
    EXPECT_EQ(dialog.getIgnoreTimeLimit(), c.accepted ? QString::fromLatin1(c.time) : QStringLiteral("100"));
    EXPECT_EQ(dialog.getIgnoreDifference(), QString::fromLatin1(c.storedDifference));
}

INSTANTIATE_TEST_SUITE_P(Dialogs, IgnoreDialogTest,
                         ::testing::Values(IgnoreCase{"time0", "0", "1", false, "0.1"},
                                           IgnoreCase{"time500", "500", "1", true, "1"},
                                           IgnoreCase{"difference0", "500", "0", false, "0.1"},
                                           IgnoreCase{"differenceComma", "500", "0,05", true, "0.05"},
                                           IgnoreCase{"bothEmpty", "", "", true, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(IgnoreDialogTest, CancelKeepsTheOldValues) {
    test::ScriptedDialogs dialogs;
    IgnoreDialog dialog(nullptr, QStringLiteral("100"), QStringLiteral("0.1"), dialogs);
    dialog.ignoreTimeLimitTextField()->setText(QStringLiteral("900"));
    dialog.show();
    QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(dialog.getIgnoreTimeLimit(), "100");
}

TEST(CustomRegExDialogTest, InvalidExpressionStaysOpen) {
    test::ScriptedDialogs dialogs;
    CustomRegExDialog dialog(nullptr, QStringLiteral("(\\d+)"), dialogs);
    dialog.show();
    dialog.textArea()->setPlainText(QStringLiteral("(\\d+"));
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialogs.texts(), QStringList{tavloText("invalid.expression")});
    EXPECT_EQ(dialog.getRegEx(), "(\\d+)");
    dialog.textArea()->setPlainText(QStringLiteral("W=(\\d+)"));
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.getRegEx(), "W=(\\d+)");
}

// Presses OK of the modal dialog that the handler opens next.
void pressOkOfNextDialog() {
    QTimer::singleShot(0, [] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<CustomRegExDialog*>(top); dialog && dialog->isVisible())
                dialog->okButton()->click();
    });
}

TEST_F(ChecksTest, UnchangedBuiltInExpressionIsNotStoredAsCustom) {
    VudareDiVezFrame2& w = open();
    pressOkOfNextDialog();
    w.customizeButtonActionPerformed();
    EXPECT_TRUE(w.config().getCustomRegEx().isEmpty());
}

} // namespace
