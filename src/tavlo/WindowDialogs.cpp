#include "tavlo/WindowDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace tavlo {

void QtWindowDialogs::showMessage(const QString& title, const QString& text, Icon icon) {
    QMessageBox::Icon boxIcon = QMessageBox::Information;
    if (icon == Icon::Warning)
        boxIcon = QMessageBox::Warning;
    else if (icon == Icon::Error)
        boxIcon = QMessageBox::Critical;
    QMessageBox box(boxIcon, title, text, QMessageBox::Ok, m_parent);
    box.exec();
}

bool QtWindowDialogs::ask(const QString& title, const QString& text, Buttons buttons) {
    const auto yes = buttons == Buttons::YesNo ? QMessageBox::Yes : QMessageBox::Ok;
    const auto no = buttons == Buttons::YesNo ? QMessageBox::No : QMessageBox::Cancel;
    QMessageBox box(QMessageBox::Question, title, text, yes | no, m_parent);
    return box.exec() == yes;
}

std::optional<QString> QtWindowDialogs::chooseSaveFile(const QString& title, const QString& suggestedName,
                                                       const QString& filter) {
    // The overwrite question is the window's own, so the dialog must not ask it a second time.
    const QString path = QFileDialog::getSaveFileName(m_parent, title, QDir::home().filePath(suggestedName), filter,
                                                      nullptr, QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

std::optional<QString> QtWindowDialogs::chooseOpenFile(const QString& title, const QString& filter) {
    const QString path = QFileDialog::getOpenFileName(m_parent, title, QString(), filter);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

} // namespace tavlo
