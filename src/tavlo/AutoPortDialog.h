#pragma once

#include "worker/AutoPortWorkerView.h"

#include <QComboBox>
#include <QDialog>
#include <QPointer>
#include <QStringList>
#include <memory>

class QPushButton;
class QTextEdit;

namespace tavlo {

namespace worker {
class AutoPortWorker;
}

// Probes the listed ports for an attached instrument and shows the progress; a found port is selected in the
// owner's port list. Closing the dialog while the probing runs cancels it; the probing's completion still
// closes the port under test but no longer reaches the closed dialog.
class AutoPortDialog : public QDialog, public tavlo::worker::AutoPortWorkerView {
    Q_OBJECT
public:
    // Starts the probing of ports at once; portList is the owner's list box that receives the result.
    AutoPortDialog(QWidget* owner, QComboBox* portList, const QStringList& ports);
    ~AutoPortDialog() override;

    void setButtonToCancel() override;
    void setButtonToClose() override;
    void setPort(const QString& name) override;
    void update(const QString& text, std::optional<tavlo::worker::TextAttributes> attributes) override;

    void okButtonActionPerformed();
    QPushButton* okButton() const { return m_okButton; }
    QTextEdit* textPane() const { return m_textPane1; }
    // True once the probing has ended.
    bool workerDone() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    class Worker;

    QPointer<QComboBox> m_portList;
    std::shared_ptr<Worker> m_worker;
    QTextEdit* m_textPane1;
    QPushButton* m_okButton;
};

} // namespace tavlo
