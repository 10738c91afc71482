// The Input tab's field for the text that replaces control characters in records.
#include "tavlo/VudareDiVezFrame2.h"

#include "base/ResourceBundle.h"
#include "worker/ControlCharacters.h"

#include <QLineEdit>

namespace tavlo {

QWidget* VudareDiVezFrame2::buildControlCharactersRow(QWidget* page) {
    replaceControlCharactersField = new QLineEdit(page);
    replaceControlCharactersField->setObjectName(QStringLiteral("replaceControlCharactersField"));
    replaceControlCharactersField->setMaximumWidth(260);
    replaceControlCharactersField->setPlaceholderText(
        text("VudareDiVezFrame2.replaceControlCharactersField.placeholder"));
    replaceControlCharactersField->setToolTip(text("VudareDiVezFrame2.replaceControlCharactersField.toolTip"));
    return replaceControlCharactersField;
}

void VudareDiVezFrame2::connectControlCharacters() {
    // Checked when the text is complete: the instrument's key map must be able to type it, since it becomes
    // part of the values.
    connect(replaceControlCharactersField, &QLineEdit::editingFinished, this, [this] {
        if (m_filling || m_closing)
            return;
        config::Config candidate = settingsInTabs();
        candidate.replaceControlCharacters = replaceControlCharactersField->text();
        if (const QString problem = worker::replacementProblem(candidate); !problem.isEmpty()) {
            showMessage(text("error"), problem, worker::MessageBoxSeam::Icon::Error);
            replaceControlCharactersField->setText(m_config.replaceControlCharacters);
            return;
        }
        m_config.replaceControlCharacters = candidate.replaceControlCharacters;
    });
}

void VudareDiVezFrame2::showControlCharactersInControls() {
    replaceControlCharactersField->setText(m_config.replaceControlCharacters);
}

void VudareDiVezFrame2::applyControlCharactersTo(config::Config& config) const {
    config::Config candidate = config::Config::copyConfig(config);
    candidate.replaceControlCharacters = replaceControlCharactersField->text();
    if (worker::replacementProblem(candidate).isEmpty())
        config.replaceControlCharacters = candidate.replaceControlCharacters;
}

} // namespace tavlo
