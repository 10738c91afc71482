#include "tavlo/CustomRegExDialog.h"

#include "base/ResourceBundle.h"
#include "config/ConfigHelper.h"
#include "tavlo/LinkMouseListener.h"
#include "tavlo/WindowDialogs.h"
#include "tavlo/util/ProductSite.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

using tavlo::config::ConfigHelper;

namespace tavlo {

namespace {
const base::ResourceBundle& bundle() {
    return base::ResourceBundle::getBundle(QStringLiteral("tavlo.Tavlo"));
}
QString text(const char* key) {
    return bundle().getString(QLatin1String(key));
}
} // namespace

CustomRegExDialog::CustomRegExDialog(QWidget* owner, const QString& expression, WindowDialogs& dialogs)
    : QDialog(owner), m_dialogs(dialogs), m_regEx(expression) {
    setWindowTitle(text("CustomRegExDialog.this.title"));
    setModal(true);
    m_textArea = new QPlainTextEdit(expression, this);
    m_textArea->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_okButton = new QPushButton(QStringLiteral("OK"), this);
    m_cancelButton = new QPushButton(text("CustomRegExDialog.cancelButton.text"), this);
    auto* label2 = new QLabel(text("CustomRegExDialog.label2.text"), this);
    auto* label3 = new QLabel(text("CustomRegExDialog.label3.text"), this);
    label3->setTextFormat(Qt::PlainText);
    auto* label4 = new QLabel(
        bundle().format(QStringLiteral("CustomRegExDialog.label4.text"), {util::ProductSite::downloadAddress()}), this);
    label2->setWordWrap(true);
    if (isBrowsingSupported())
        makeLinkable(label4, new LinkMouseListener(label4));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_okButton);
    buttons->addWidget(m_cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_textArea);
    layout->addWidget(label2);
    layout->addWidget(label3);
    layout->addWidget(label4);
    layout->addLayout(buttons);
    resize(520, 260);

    connect(m_okButton, &QPushButton::clicked, this, &CustomRegExDialog::okButtonActionPerformed);
    connect(m_cancelButton, &QPushButton::clicked, this, &CustomRegExDialog::cancelButtonActionPerformed);
}

void CustomRegExDialog::okButtonActionPerformed() {
    const QString expression = m_textArea->toPlainText();
    if (!ConfigHelper::CustomRegEx::valid(expression)) {
        m_dialogs.showMessage(text("error"), text("invalid.expression"), WindowDialogs::Icon::Error);
        return;
    }
    m_regEx = expression;
    accept();
}

void CustomRegExDialog::cancelButtonActionPerformed() {
    close();
}

void CustomRegExDialog::close() {
    reject();
}

} // namespace tavlo
