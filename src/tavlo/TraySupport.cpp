#include "tavlo/TraySupport.h"

#include <QApplication>
#include <QEvent>
#include <QStyle>
#include <QWidget>

namespace tavlo {

TraySupport::TraySupport(QWidget* window, QMap<int, QPixmap> icons, std::function<bool()> notify, QString balloonText)
    : QObject(window), m_window(window), m_icons(std::move(icons)), m_notify(std::move(notify)),
      m_balloonText(std::move(balloonText)) {}

TraySupport::~TraySupport() {
    remove();
}

bool TraySupport::available() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

int TraySupport::iconSizeFor(int trayIconWidth) {
    if (trayIconWidth <= 16)
        return 16;
    if (trayIconWidth <= 20)
        return 20;
    if (trayIconWidth <= 24)
        return 24;
    return 32;
}

void TraySupport::install() {
    if (m_installed || !m_window)
        return;
    if (!m_tray) {
        // The tray's icon width is the style's small icon size on every desktop Qt supports.
        const int width = QApplication::style()->pixelMetric(QStyle::PM_SmallIconSize);
        m_tray = new QSystemTrayIcon(QIcon(m_icons.value(iconSizeFor(width))), this);
        m_tray->setToolTip(QStringLiteral("Tavlo"));
        connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason != QSystemTrayIcon::Context)
                restoreWindow();
        });
    }
    m_window->installEventFilter(this);
    m_installed = true;
}

void TraySupport::remove() {
    if (!m_installed)
        return;
    if (m_window)
        m_window->removeEventFilter(this);
    if (m_tray)
        m_tray->hide();
    m_installed = false;
}

void TraySupport::restoreWindow() {
    if (!m_window)
        return;
    m_window->setWindowState((m_window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    m_window->show();
    m_window->activateWindow();
}

bool TraySupport::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window && event->type() == QEvent::WindowStateChange && m_tray) {
        if (m_window->windowState() & Qt::WindowMinimized) {
            m_tray->show();
            // Hiding from inside the state change confuses some window managers; do it right after.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (m_window && (m_window->windowState() & Qt::WindowMinimized))
                        m_window->hide();
                },
                Qt::QueuedConnection);
            if (m_notify && m_notify())
                m_tray->showMessage(QStringLiteral("Tavlo"), m_balloonText, QIcon(m_icons.value(32)));
        } else {
            m_tray->hide();
            m_window->show();
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace tavlo
