#include "worker/WeightWorkerAnd.h"

#include "base/ResourceBundle.h"
#include "serial/SerialPortLocal.h"

#include <QThread>

namespace tavlo::worker {

namespace {

// Time the balance gets to answer a raised line.
constexpr int kLineSettleMs = 50;

} // namespace

WeightWorkerAnd::WeightWorkerAnd(WeightWorkerView& view, const config::Config& config, MessageBoxSeam& boxes)
    : WeightWorker(view, config), m_boxes(boxes) {
    testDevice();
}

void WeightWorkerAnd::setRunningLines(serial::SerialPortLocal& port) {
    port.setRTS(true);
    port.setDTR(true);
}

void WeightWorkerAnd::testDevice() {
    QString key;
    try {
        serial::SerialPortLocal& sp = port();
        sp.setDTR(true);
        QThread::msleep(kLineSettleMs);
        const bool dsr = sp.sigDSR();
        sp.setRTS(true);
        QThread::msleep(kLineSettleMs);
        const bool cts = sp.sigCTS();
        if (dsr && !cts)
            key = QStringLiteral("and.error.unusual");
        else if (!dsr && cts)
            key = QStringLiteral("and.error.dataset.not.ready");
        else if (!dsr && !cts)
            key = QStringLiteral("and.error.not.connected");
    } catch (const std::exception& failure) {
        // The test only advises; reading goes on whatever the lines do.
        view().logImportantEvent(failureText(failure));
        return;
    }
    if (key.isEmpty())
        return;
    const base::ResourceBundle& bundle = resourceBundle();
    m_boxes.showMessage(bundle.getString(QStringLiteral("warning")), bundle.getString(key),
                        MessageBoxSeam::Icon::Warning);
}

} // namespace tavlo::worker
