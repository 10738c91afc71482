#pragma once

#include "config/Config.h"

#include <QGroupBox>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;

namespace tavlo {

class EventLog;

// "Try a record" on the Processing tab: one sample record, typed or pasted (C escapes allowed) or taken from the
// instrument's samples, and at once what the current, unsaved settings make of it: the extracted value, what
// would be typed, and the event-log line; or why nothing would be typed. The window hands in its settings as
// they stand in the tabs; the records go through the record processor of acquisition.
class PreviewPanel : public QGroupBox {
    Q_OBJECT
public:
    using SettingsSource = std::function<config::Config()>;

    PreviewPanel(SettingsSource settings, QWidget* parent = nullptr);

    // Offers the instrument's sample records; the first one fills the field while it is empty.
    void setInstrument(const config::ConfigHelper::Instrument* instrument);
    // Works the field's record out again with the settings as they are now.
    void refresh();

    QComboBox* sampleBox = nullptr;
    QLineEdit* recordField = nullptr;
    QLabel* extractedLabel = nullptr;
    QLabel* typedLabel = nullptr;
    QLabel* reasonLabel = nullptr;
    EventLog* logView = nullptr;

private:
    SettingsSource m_settings;
    const config::ConfigHelper::Instrument* m_instrument = nullptr;
};

// A record as the field shows it: control characters as C escapes, so that it can be edited on one line.
QString escapeSample(const QString& record);

} // namespace tavlo
