#pragma once

#include "config/Config.h"

#include <QComboBox>

namespace tavlo {

// The decimal separator choice; enabled for number instruments and disabled for text instruments such as
// barcode readers, following the instrument kind that the settings record announces.
class DecimalSeparatorBox : public QComboBox, public config::PropertyChangeListener {
    Q_OBJECT
public:
    // Listens to the record's "NUMBER" and "TEXT" events until destroyed.
    DecimalSeparatorBox(config::Config& config, QWidget* parent = nullptr);
    ~DecimalSeparatorBox() override;

    void propertyChange(const config::PropertyChangeEvent& event) override;

private:
    config::Config& m_config;
};

} // namespace tavlo
