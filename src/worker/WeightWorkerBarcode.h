#pragma once

#include "worker/WeightWorker.h"

namespace tavlo::worker {

// The worker for text instruments (barcode readers and the like). It frames exactly like the weight worker;
// the record chain of a text instrument takes group 1, keeps white space and formats nothing, and line errors
// are logged with fixed English texts. The window creates it for instruments of type TEXT only.
class WeightWorkerBarcode : public WeightWorker {
public:
    using WeightWorker::WeightWorker;

protected:
    QString parityErrorText() const override { return QStringLiteral("Parity Error"); }
    QString framingErrorText() const override { return QStringLiteral("Framing Error"); }
};

} // namespace tavlo::worker
