#pragma once

#include <QLabel>
#include <QString>

namespace tavlo {

// A label that shows formatted text; where the desktop can open links, a link in the text opens in the
// standard browser when clicked.
class JLabelHtml : public QLabel {
    Q_OBJECT
public:
    explicit JLabelHtml(const QString& text = QString(), QWidget* parent = nullptr);
};

} // namespace tavlo
