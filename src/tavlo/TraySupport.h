#pragma once

#include <QIcon>
#include <QMap>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QSystemTrayIcon>
#include <functional>

namespace tavlo {

// Minimising the window to the system tray: while installed, iconifying the window puts an icon into the tray
// and hides the window; restoring it (or clicking the icon) removes the icon and shows the window again.
class TraySupport : public QObject {
    Q_OBJECT
public:
    // icons: the window icons by pixel size (16, 20, 24, 32); notify tells whether to show the balloon.
    TraySupport(QWidget* window, QMap<int, QPixmap> icons, std::function<bool()> notify, QString balloonText);
    ~TraySupport() override;

    // The desktop offers a system tray.
    static bool available();
    // The window icon size for a tray icon of that width: 16, 20, 24, or 32 for anything larger.
    static int iconSizeFor(int trayIconWidth);

    // Installs the window-state listener; a second call while installed does nothing.
    void install();
    void remove();
    bool isInstalled() const { return m_installed; }
    QSystemTrayIcon* trayIcon() const { return m_tray; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void restoreWindow();

    QPointer<QWidget> m_window;
    QMap<int, QPixmap> m_icons;
    std::function<bool()> m_notify;
    QString m_balloonText;
    QSystemTrayIcon* m_tray = nullptr;
    bool m_installed = false;
};

} // namespace tavlo
