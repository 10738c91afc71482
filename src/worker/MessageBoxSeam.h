#pragma once

#include <QList>
#include <QMutex>
#include <QString>

namespace tavlo::worker {

// Where code outside the window shows a modal message box. The window installs itself as the seam and shows
// real boxes with itself as their parent; without a window (tests, the command line) the installed seam
// decides, and the default one shows nothing. Called on the GUI thread only.
class MessageBoxSeam {
public:
    enum class Icon { Information, Warning, Error };

    virtual ~MessageBoxSeam() = default;
    // Shows one box with a single acknowledge button and returns when the user has acknowledged it.
    virtual void showMessage(const QString& title, const QString& text, Icon icon) = 0;

    // The installed seam, or the default that shows nothing.
    static MessageBoxSeam& installed();
    // Installs seam (not owned) for the whole process; null restores the default.
    static void install(MessageBoxSeam* seam);
};

// A seam that only remembers the boxes it was asked to show, for tests and headless runs.
class RecordingMessageBoxSeam : public MessageBoxSeam {
public:
    struct Box {
        QString title;
        QString text;
        Icon icon;
    };

    void showMessage(const QString& title, const QString& text, Icon icon) override {
        QMutexLocker lock(&m_mutex);
        m_boxes.append(Box{title, text, icon});
    }
    QList<Box> boxes() const {
        QMutexLocker lock(&m_mutex);
        return m_boxes;
    }

private:
    mutable QMutex m_mutex;
    QList<Box> m_boxes;
};

} // namespace tavlo::worker
