// The Input tab's field for the text that replaces control characters.
#include "WindowFixture.h"

#include "config/Instrument.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>

using namespace tavlo;
using H = tavlo::config::ConfigHelper;

namespace {

class ControlCharactersField : public test::WindowFixture {};

TEST_F(ControlCharactersField, TakesOnlyATextTheInstrumentCanTypeAndIsStoredOnlyWhileSet) {
    VudareDiVezFrame2& w = open();
    QTabWidget* tabs = w.tabbedPane();
    tabs->setCurrentIndex(VudareDiVezFrame2::InputTab);
    w.instrumentBox->setCurrentIndex(H::Instrument::BARCODE_ALPHA.ordinal());
    QLineEdit* field = w.replaceControlCharactersField;
    EXPECT_FALSE(field->placeholderText().isEmpty());

    // Capital letters and digits only: a bar cannot be typed, and the field goes back to what was set.
    field->setText(QStringLiteral("|"));
    emit field->editingFinished();
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.contains("\"|\"")) << dialogs.boxes[0].text.toStdString();
    EXPECT_TRUE(field->text().isEmpty());

    field->setText(QStringLiteral("-"));
    emit field->editingFinished();
    EXPECT_EQ(dialogs.boxes.size(), 1);
    tabs->setCurrentIndex(VudareDiVezFrame2::StartTab); // leaving Input saves
    EXPECT_EQ(stored("replaceControlCharacters"), "-");

    // The full printable set takes the bar; emptied, the setting leaves the store.
    tabs->setCurrentIndex(VudareDiVezFrame2::InputTab);
    w.instrumentBox->setCurrentIndex(H::Instrument::BARCODE_ALPHA_COMPLETE.ordinal());
    field->setText(QStringLiteral("|"));
    emit field->editingFinished();
    EXPECT_EQ(dialogs.boxes.size(), 1);
    tabs->setCurrentIndex(VudareDiVezFrame2::StartTab);
    EXPECT_EQ(stored("replaceControlCharacters"), "|");
    tabs->setCurrentIndex(VudareDiVezFrame2::InputTab);
    field->clear();
    emit field->editingFinished();
    tabs->setCurrentIndex(VudareDiVezFrame2::StartTab);
    EXPECT_EQ(stored("replaceControlCharacters"), "<none>");
}

} // namespace
