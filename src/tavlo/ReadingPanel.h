#pragma once

#include "config/InstrumentCommand.h"
#include "worker/Reading.h"

#include <QWidget>
#include <array>

class QGroupBox;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace tavlo {

// The Start tab's view of a run: what Start will use, the last reading large (its value, unit, stability and
// time), the last ten readings with their time and outcome, and the buttons that send the instrument's
// commands. It shows the readings the run makes for every output, so it tells the same as the event log and
// the data log.
class ReadingPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHistoryRows = 10;
    enum Column { TimeColumn, ValueColumn, UnitColumn, StabilityColumn, OutcomeColumn };

    explicit ReadingPanel(QWidget* parent = nullptr);

    // The Request, Tare and Zero buttons in a row, for the window to place beside Start.
    QWidget* commandRow() const { return m_commandRow; }
    QPushButton* button(config::InstrumentCommand command) const { return m_buttons[index(command)]; }
    // Enabled, with a tooltip that says what the button sends, or why it cannot.
    void setCommandState(config::InstrumentCommand command, bool enabled, const QString& toolTip);

    // What Start will use, or what the run uses.
    void setPlan(const QString& text);
    // The state of the outputs that connect somewhere (the MQTT broker); empty: the line is hidden.
    void setOutputState(const QString& text);
    void showReading(const worker::Reading& reading);
    // A new run starts with an empty display.
    void statusChanged(const worker::StatusEvent& event);

    QLabel* planLabel() const { return m_plan; }
    QLabel* outputStateLabel() const { return m_outputState; }
    QLabel* valueLabel() const { return m_value; }
    QLabel* unitLabel() const { return m_unit; }
    QLabel* stabilityLabel() const { return m_stability; }
    QLabel* timeLabel() const { return m_time; }
    QTreeWidget* history() const { return m_history; }

    // "HH:mm:ss" of the reading's time, in local time.
    static QString shownTime(worker::Instant time);

signals:
    void commandClicked(config::InstrumentCommand command);

private:
    static int index(config::InstrumentCommand command) { return static_cast<int>(command); }
    void clear();

    QWidget* m_commandRow = nullptr;
    std::array<QPushButton*, 3> m_buttons{};
    QLabel* m_plan = nullptr;
    QLabel* m_outputState = nullptr;
    QGroupBox* m_last = nullptr;
    QLabel* m_value = nullptr;
    QLabel* m_unit = nullptr;
    QLabel* m_stability = nullptr;
    QLabel* m_time = nullptr;
    QTreeWidget* m_history = nullptr;
};

} // namespace tavlo
