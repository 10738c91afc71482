#include "tavlo/ReadingPanel.h"

#include "base/ResourceBundle.h"
#include "worker/DataLine.h"

#include <QDateTime>
#include <QFont>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tavlo {

using config::InstrumentCommand;
using worker::Outcome;

namespace {

QString text(const char* key) {
    return base::ResourceBundle::getBundle(QStringLiteral("tavlo.Tavlo")).getString(QLatin1String(key));
}

QString stabilityText(const std::optional<bool>& stable) {
    if (!stable)
        return QString();
    return *stable ? QStringLiteral("stable") : QStringLiteral("unstable");
}

// A reading shown in the large display: one with a value to weigh, or an instrument out of its range. Records
// without a value (an acknowledgement, no match, a failure) appear in the history only.
bool isShownLarge(const worker::Reading& reading) {
    return reading.outcome == Outcome::Overload || !reading.value.isEmpty();
}

} // namespace

ReadingPanel::ReadingPanel(QWidget* parent) : QWidget(parent) {
    m_commandRow = new QWidget(this);
    auto* row = new QHBoxLayout(m_commandRow);
    row->setContentsMargins(0, 0, 0, 0);
    const std::array<const char*, 3> keys{"VudareDiVezFrame2.requestButton.text", "VudareDiVezFrame2.tareButton.text",
                                          "VudareDiVezFrame2.zeroButton.text"};
    for (InstrumentCommand command : {InstrumentCommand::Request, InstrumentCommand::Tare, InstrumentCommand::Zero}) {
        auto* b = new QPushButton(text(keys[index(command)]), m_commandRow);
        b->setObjectName(config::commandName(command) + QStringLiteral("Button"));
        b->setEnabled(false);
        b->setMinimumHeight(48);
        connect(b, &QPushButton::clicked, this, [this, command] { emit commandClicked(command); });
        row->addWidget(b);
        m_buttons[index(command)] = b;
    }

    m_plan = new QLabel(this);
    m_plan->setWordWrap(true);
    m_plan->setTextFormat(Qt::PlainText);

    m_outputState = new QLabel(this);
    m_outputState->setObjectName(QStringLiteral("outputState"));
    m_outputState->setWordWrap(true);
    m_outputState->setTextFormat(Qt::PlainText);
    m_outputState->hide();

    m_last = new QGroupBox(QStringLiteral("Last reading"), this);
    m_value = new QLabel(m_last);
    QFont large = m_value->font();
    large.setPointSizeF(large.pointSizeF() * 2.6);
    large.setBold(true);
    m_value->setFont(large);
    m_value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_unit = new QLabel(m_last);
    QFont medium = m_unit->font();
    medium.setPointSizeF(medium.pointSizeF() * 1.6);
    m_unit->setFont(medium);
    m_stability = new QLabel(m_last);
    m_stability->setFont(medium);
    m_time = new QLabel(m_last);
    auto* reading = new QHBoxLayout;
    reading->addWidget(m_value);
    reading->addWidget(m_unit, 0, Qt::AlignBottom);
    reading->addSpacing(16);
    reading->addWidget(m_stability, 0, Qt::AlignBottom);
    reading->addStretch();
    reading->addWidget(m_time, 0, Qt::AlignBottom);
    auto* lastLayout = new QVBoxLayout(m_last);
    lastLayout->addLayout(reading);

    m_history = new QTreeWidget(this);
    m_history->setRootIsDecorated(false);
    m_history->setUniformRowHeights(true);
    m_history->setSelectionMode(QAbstractItemView::NoSelection);
    m_history->setFocusPolicy(Qt::NoFocus);
    m_history->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Value"), QStringLiteral("Unit"),
                                QStringLiteral("Stability"), QStringLiteral("Outcome")});
    m_history->header()->setStretchLastSection(false);
    m_history->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_history->header()->setSectionResizeMode(ValueColumn, QHeaderView::Stretch);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_plan);
    layout->addWidget(m_outputState);
    layout->addWidget(m_last);
    layout->addWidget(m_history, 1);
    clear();
}

void ReadingPanel::setCommandState(InstrumentCommand command, bool enabled, const QString& toolTip) {
    QPushButton* b = button(command);
    b->setEnabled(enabled);
    b->setToolTip(toolTip);
}

void ReadingPanel::setPlan(const QString& plan) {
    m_plan->setText(plan);
}

void ReadingPanel::setOutputState(const QString& text) {
    m_outputState->setText(text);
    m_outputState->setVisible(!text.isEmpty());
}

QString ReadingPanel::shownTime(worker::Instant time) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss"));
}

void ReadingPanel::clear() {
    m_value->setText(QStringLiteral("–"));
    m_unit->clear();
    m_stability->clear();
    m_time->setText(QStringLiteral("No reading yet"));
    m_history->clear();
}

void ReadingPanel::statusChanged(const worker::StatusEvent& event) {
    if (event.kind == worker::StatusEvent::Kind::Started) {
        clear();
        // The outputs of the new run report their own state once they have one.
        setOutputState(QString());
    }
}

void ReadingPanel::showReading(const worker::Reading& reading) {
    const QString time = shownTime(reading.time);
    const QString stability = stabilityText(reading.stable);
    if (isShownLarge(reading)) {
        const bool overload = reading.outcome == Outcome::Overload;
        m_value->setText(overload ? QStringLiteral("Overload") : reading.value);
        m_unit->setText(overload ? QString() : reading.unit);
        m_stability->setText(overload ? QString() : stability);
        m_time->setText(time);
    }

    // Without a value the record itself says what came: an acknowledgement, a line without a match, a failure.
    const bool hasValue = !reading.value.isEmpty() && reading.outcome != Outcome::Overload;
    QString shown = hasValue ? reading.value : worker::DataLine::transformControlChars(reading.raw);
    if (reading.outcome == Outcome::Error && !reading.error.isEmpty())
        shown = reading.error;
    auto* item = new QTreeWidgetItem(
        {time, shown, hasValue ? reading.unit : QString(), stability, worker::outcomeText(reading.outcome)});
    if (!hasValue) {
        QFont italic = item->font(ValueColumn);
        italic.setItalic(true);
        item->setFont(ValueColumn, italic);
        item->setForeground(ValueColumn, palette().brush(QPalette::Disabled, QPalette::Text));
    }
    item->setToolTip(ValueColumn, worker::DataLine::transformControlChars(reading.raw));
    m_history->insertTopLevelItem(0, item);
    while (m_history->topLevelItemCount() > kHistoryRows)
        delete m_history->takeTopLevelItem(m_history->topLevelItemCount() - 1);
}

} // namespace tavlo
