#include "tavlo/WindowAcquisition.h"

#include "tavlo/VudareDiVezFrame2.h"

namespace tavlo {

// ACQUISITION SEAM: the shared start-up path (tavlo::Acquisition) is not part of this build yet. Until it is,
// Start reports that acquisition is unavailable and the other operations do nothing.

WindowAcquisition::~WindowAcquisition() = default;

bool WindowAcquisition::available() const {
    return false;
}

void WindowAcquisition::start() {
    m_window.logImportantEvent(QStringLiteral("Acquisition is not available in this build."));
}

void WindowAcquisition::stop() {}

void WindowAcquisition::update(worker::DataLine line) {
    Q_UNUSED(line);
}

void WindowAcquisition::request() {}

void WindowAcquisition::shutdown() {}

} // namespace tavlo
