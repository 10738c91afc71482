#pragma once

#include <QDialog>
#include <QString>

class QPlainTextEdit;
class QPushButton;

namespace tavlo {

class WindowDialogs;

// Edits the expression that replaces the instrument's own. OK accepts a valid custom expression only; Cancel
// and the close box keep the starting text as the result.
class CustomRegExDialog : public QDialog {
    Q_OBJECT
public:
    CustomRegExDialog(QWidget* owner, const QString& expression, WindowDialogs& dialogs);

    QString getRegEx() const { return m_regEx; }
    QPlainTextEdit* textArea() const { return m_textArea; }
    QPushButton* okButton() const { return m_okButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }

    void okButtonActionPerformed();
    void cancelButtonActionPerformed();
    void close();

private:
    WindowDialogs& m_dialogs;
    QString m_regEx;
    QPlainTextEdit* m_textArea;
    QPushButton* m_okButton;
    QPushButton* m_cancelButton;
};

} // namespace tavlo
