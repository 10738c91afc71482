#include "tavlo/DecimalSeparatorBox.h"

namespace tavlo {

DecimalSeparatorBox::DecimalSeparatorBox(config::Config& config, QWidget* parent)
    : QComboBox(parent), m_config(config) {
    addItems(config::ConfigHelper::DecimalSeparator::labels());
    m_config.addPropertyChangeListener(QStringLiteral("NUMBER"), this);
    m_config.addPropertyChangeListener(QStringLiteral("TEXT"), this);
}

DecimalSeparatorBox::~DecimalSeparatorBox() {
    m_config.removePropertyChangeListener(QStringLiteral("NUMBER"), this);
    m_config.removePropertyChangeListener(QStringLiteral("TEXT"), this);
}

void DecimalSeparatorBox::propertyChange(const config::PropertyChangeEvent& event) {
    if (event.propertyName == QLatin1String("NUMBER"))
        setEnabled(true);
    else if (event.propertyName == QLatin1String("TEXT"))
        setEnabled(false);
}

} // namespace tavlo
