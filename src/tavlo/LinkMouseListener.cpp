#include "tavlo/LinkMouseListener.h"

#include "tavlo/LinkRunner.h"
#include "tavlo/util/OpenHyperlinkInBrowser.h"

#include <QGuiApplication>
#include <QMouseEvent>

using tavlo::util::OpenHyperlinkInBrowser;

namespace tavlo {

bool LinkMouseListener::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        if (auto* label = qobject_cast<QLabel*>(watched)) {
            const QString address = OpenHyperlinkInBrowser::getPlainLink(label->text());
            if (!address.isEmpty())
                openHyperlink(address);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

bool isBrowsingSupported() {
    // The offscreen and minimal platforms have no desktop to start a browser on.
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

void makeLinkable(QLabel* label, LinkMouseListener* listener) {
    if (!OpenHyperlinkInBrowser::containsHyperlink(label->text()))
        label->setText(OpenHyperlinkInBrowser::htmlIfy(OpenHyperlinkInBrowser::linkIfy(label->text())));
    // The listener opens the link, not the label itself.
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setOpenExternalLinks(false);
    label->setCursor(Qt::PointingHandCursor);
    if (!listener->parent())
        listener->setParent(label);
    label->installEventFilter(listener);
}

void openHyperlink(const QString& address) {
    LinkRunner::open(address);
}

} // namespace tavlo
