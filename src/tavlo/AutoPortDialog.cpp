#include "tavlo/AutoPortDialog.h"

#include "tavlo/util/FriendlyPortUtil.h"
#include "worker/AutoPortWorker.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

using tavlo::util::FriendlyPortUtil;

namespace tavlo {

namespace {

// Stands between the probing and the dialog, so that a dialog closed while the probing runs is not reached.
class DialogView : public worker::AutoPortWorkerView {
public:
    explicit DialogView(AutoPortDialog* dialog) : m_dialog(dialog) {}
    void setButtonToCancel() override {
        if (m_dialog)
            m_dialog->setButtonToCancel();
    }
    void setButtonToClose() override {
        if (m_dialog)
            m_dialog->setButtonToClose();
    }
    void setPort(const QString& name) override {
        if (m_dialog)
            m_dialog->setPort(name);
    }
    void update(const QString& text, std::optional<worker::TextAttributes> attributes) override {
        if (m_dialog)
            m_dialog->update(text, attributes);
    }

private:
    QPointer<AutoPortDialog> m_dialog;
};

// The view is a base of the task, so that it lives exactly as long as the task that reports to it.
struct DialogViewHolder {
    explicit DialogViewHolder(AutoPortDialog* dialog) : view(dialog) {}
    DialogView view;
};

} // namespace

class AutoPortDialog::Worker : private DialogViewHolder, public worker::AutoPortWorker {
public:
    Worker(AutoPortDialog* dialog, const QStringList& ports) : DialogViewHolder(dialog), AutoPortWorker(view, ports) {}
};

AutoPortDialog::AutoPortDialog(QWidget* owner, QComboBox* portList, const QStringList& ports)
    : QDialog(owner), m_portList(portList) {
    setWindowTitle(QStringLiteral("Auto-detect port"));
    m_textPane1 = new QTextEdit(this);
    m_textPane1->setReadOnly(true);
    m_okButton = new QPushButton(QStringLiteral("OK"), this);
    auto* buttonBar = new QHBoxLayout;
    buttonBar->addStretch();
    buttonBar->addWidget(m_okButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_textPane1);
    layout->addLayout(buttonBar);
    resize(420, 300);
    connect(m_okButton, &QPushButton::clicked, this, &AutoPortDialog::okButtonActionPerformed);

    setButtonToCancel();
    m_worker = std::make_shared<Worker>(this, ports);
    m_worker->execute();
}

AutoPortDialog::~AutoPortDialog() {
    if (m_worker && !m_worker->isDone())
        m_worker->cancel(true);
}

bool AutoPortDialog::workerDone() const {
    return m_worker->isDone();
}

void AutoPortDialog::setButtonToCancel() {
    m_okButton->setText(QStringLiteral("Cancel"));
}

void AutoPortDialog::setButtonToClose() {
    m_okButton->setText(QStringLiteral("Close"));
}

void AutoPortDialog::setPort(const QString& name) {
    if (name.isEmpty() || !m_portList)
        return;
    const QString shown = FriendlyPortUtil::getFriendlyPortName(name);
    int index = m_portList->findText(shown);
    if (index < 0)
        index = m_portList->findText(name);
    if (index >= 0)
        m_portList->setCurrentIndex(index);
}

void AutoPortDialog::update(const QString& text, std::optional<worker::TextAttributes> attributes) {
    QTextCharFormat format;
    if (attributes) {
        if (attributes->bold)
            format.setFontWeight(QFont::Bold);
        if (attributes->alert)
            format.setForeground(QColor(0xB0, 0x00, 0x00));
    }
    QTextCursor cursor(m_textPane1->document());
    cursor.movePosition(QTextCursor::End);
    if (!m_textPane1->document()->isEmpty())
        cursor.insertText(QStringLiteral("\n"), QTextCharFormat());
    cursor.insertText(text, format);
}

void AutoPortDialog::okButtonActionPerformed() {
    if (!m_worker->isDone()) {
        m_worker->cancel(true);
        setButtonToClose();
        return;
    }
    close();
}

void AutoPortDialog::closeEvent(QCloseEvent* event) {
    if (!m_worker->isDone())
        m_worker->cancel(true);
    event->accept();
    hide();
    deleteLater();
}

} // namespace tavlo
