#pragma once

#include <QLabel>
#include <QObject>
#include <QString>

namespace tavlo {

// Click handler of linkable labels: opens the address held in the label's link markup.
class LinkMouseListener : public QObject {
    Q_OBJECT
public:
    explicit LinkMouseListener(QObject* parent = nullptr) : QObject(parent) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// The desktop can open an address in the standard browser.
bool isBrowsingSupported();
// Turns the label's text into a link to itself (unless it already holds one), shows a hand cursor over it and
// attaches the listener (owned by the label when it has no parent).
void makeLinkable(QLabel* label, LinkMouseListener* listener);
// Opens the address in the standard browser in the background.
void openHyperlink(const QString& address);

} // namespace tavlo
