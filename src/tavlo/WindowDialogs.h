#pragma once

#include "worker/MessageBoxSeam.h"

#include <QPointer>
#include <QString>
#include <QWidget>
#include <optional>

namespace tavlo {

// Everything the window asks the user through a modal box: messages, questions and file choices. The window
// shows real boxes through QtWindowDialogs; tests install their own answers.
class WindowDialogs : public worker::MessageBoxSeam {
public:
    enum class Buttons { YesNo, OkCancel };
    // True for Yes or OK.
    virtual bool ask(const QString& title, const QString& text, Buttons buttons) = 0;
    // A file to write, with suggestedName preselected; none when the user does not approve. The filter is a
    // file-dialog filter list such as "XML settings files (*.xml);;All files (*)".
    virtual std::optional<QString> chooseSaveFile(const QString& title, const QString& suggestedName,
                                                  const QString& filter) = 0;
    // A file to read; none when the user does not approve.
    virtual std::optional<QString> chooseOpenFile(const QString& title, const QString& filter) = 0;
};

// Real Qt boxes with the window as their parent.
class QtWindowDialogs : public WindowDialogs {
public:
    explicit QtWindowDialogs(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }

    void showMessage(const QString& title, const QString& text, Icon icon) override;
    bool ask(const QString& title, const QString& text, Buttons buttons) override;
    std::optional<QString> chooseSaveFile(const QString& title, const QString& suggestedName,
                                          const QString& filter) override;
    std::optional<QString> chooseOpenFile(const QString& title, const QString& filter) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace tavlo
