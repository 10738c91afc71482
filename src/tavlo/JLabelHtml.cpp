#include "tavlo/JLabelHtml.h"

#include "tavlo/LinkMouseListener.h"

namespace tavlo {

JLabelHtml::JLabelHtml(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setTextFormat(Qt::RichText);
    setOpenExternalLinks(false);
    // Links go through the program's own opener, so that a failure is reported the same way everywhere.
    if (isBrowsingSupported()) {
        setTextInteractionFlags(Qt::LinksAccessibleByMouse);
        connect(this, &QLabel::linkActivated, this, [](const QString& address) { openHyperlink(address); });
    }
}

} // namespace tavlo
