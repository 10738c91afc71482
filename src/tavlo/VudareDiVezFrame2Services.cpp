// The Services tab: where the station's readings go besides the keyboard.
#include "tavlo/VudareDiVezFrame2.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHostInfo>
#include <QLineEdit>
#include <QScrollArea>
#include <QVBoxLayout>

namespace tavlo {

QWidget* VudareDiVezFrame2::buildServicesTab() {
    // Three groups are taller than the window on a small screen: the tab scrolls rather than squeezing them.
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* page = new QWidget(scroll);
    scroll->setWidget(page);
    auto* layout = new QVBoxLayout(page);

    // Every reading names its station; many stations that report to one place need names of their own.
    auto* station = new QGroupBox(QStringLiteral("Station"), page);
    stationField = new QLineEdit(station);
    stationField->setPlaceholderText(QHostInfo::localHostName());
    stationField->setToolTip(QStringLiteral("The name that every reading carries; empty: the computer's name (%1)")
                                 .arg(QHostInfo::localHostName()));
    auto* stationForm = new QFormLayout(station);
    stationForm->addRow(QStringLiteral("&Name:"), stationField);
    layout->addWidget(station);
    layout->addWidget(buildReadingServiceGroup(page));
    layout->addWidget(buildMqttGroup(page));
    // The station names the MQTT topics: the hint follows it.
    connect(stationField, &QLineEdit::editingFinished, this, [this] {
        if (m_filling || m_closing)
            return;
        m_config.station = stationField->text().trimmed();
        showMqttHint();
    });

    layout->addStretch();
    return scroll;
}

void VudareDiVezFrame2::showServicesInControls() {
    stationField->setText(m_config.station);
    showReadingServiceInControls();
    showMqttInControls();
}

void VudareDiVezFrame2::updateServicesFromControls() {
    m_config.station = stationField->text().trimmed();
    updateReadingServiceFromControls();
    updateMqttFromControls();
}

} // namespace tavlo
