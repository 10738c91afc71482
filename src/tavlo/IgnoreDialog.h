#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

namespace tavlo {

class WindowDialogs;

// Edits the duplicate filter's time limit (milliseconds) and largest difference. OK accepts empty texts or
// positive numbers only; Cancel and the close box keep the values the dialog was opened with.
class IgnoreDialog : public QDialog {
    Q_OBJECT
public:
    IgnoreDialog(QWidget* owner, const QString& timeLimit, const QString& difference, WindowDialogs& dialogs);

    QString getIgnoreTimeLimit() const { return m_timeLimit; }
    QString getIgnoreDifference() const { return m_difference; }

    QLineEdit* ignoreTimeLimitTextField() const { return m_timeLimitField; }
    QLineEdit* ignoreDifferenceTextField() const { return m_differenceField; }
    QPushButton* okButton() const { return m_okButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }

    void okButtonActionPerformed();
    void cancelButtonActionPerformed();
    void close();

private:
    WindowDialogs& m_dialogs;
    QString m_timeLimit;
    QString m_difference;
    QLineEdit* m_timeLimitField;
    QLineEdit* m_differenceField;
    QPushButton* m_okButton;
    QPushButton* m_cancelButton;
};

} // namespace tavlo
