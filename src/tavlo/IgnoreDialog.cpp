#include "tavlo/IgnoreDialog.h"

#include "base/ResourceBundle.h"
#include "config/ConfigHelper.h"
#include "tavlo/WindowDialogs.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using tavlo::config::ConfigHelper;

namespace tavlo {

namespace {
QString text(const char* key) {
    return base::ResourceBundle::getBundle(QStringLiteral("tavlo.Tavlo")).getString(QLatin1String(key));
}
} // namespace

IgnoreDialog::IgnoreDialog(QWidget* owner, const QString& timeLimit, const QString& difference, WindowDialogs& dialogs)
    : QDialog(owner), m_dialogs(dialogs), m_timeLimit(timeLimit), m_difference(difference) {
    setWindowTitle(text("IgnoreDialog.this.title"));
    setModal(true);
    m_timeLimitField = new QLineEdit(timeLimit, this);
    m_differenceField = new QLineEdit(difference, this);
    m_okButton = new QPushButton(QStringLiteral("OK"), this);
    m_cancelButton = new QPushButton(text("IgnoreDialog.cancelButton.text"), this);
    m_okButton->setDefault(true);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(text("IgnoreDialog.label2.text"), this), 0, 0);
    grid->addWidget(m_timeLimitField, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("ms"), this), 0, 2);
    grid->addWidget(new QLabel(text("IgnoreDialog.label3.text"), this), 1, 0);
    grid->addWidget(m_differenceField, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_okButton);
    buttons->addWidget(m_cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    connect(m_okButton, &QPushButton::clicked, this, &IgnoreDialog::okButtonActionPerformed);
    connect(m_cancelButton, &QPushButton::clicked, this, &IgnoreDialog::cancelButtonActionPerformed);
}

void IgnoreDialog::okButtonActionPerformed() {
    const QString timeLimit = m_timeLimitField->text();
    QString difference = m_differenceField->text();
    difference.replace(QLatin1Char(','), QLatin1Char('.'));
    if (!ConfigHelper::IgnoreTimeLimit::valid(timeLimit) || !ConfigHelper::IgnoreDifference::valid(difference)) {
        m_dialogs.showMessage(text("error"), text("ignore.error"), WindowDialogs::Icon::Error);
        return;
    }
    m_timeLimit = timeLimit;
    m_difference = difference;
    accept();
}

void IgnoreDialog::cancelButtonActionPerformed() {
    close();
}

void IgnoreDialog::close() {
    reject();
}

} // namespace tavlo
