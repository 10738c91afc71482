#include "worker/ByteSource.h"

namespace tavlo::worker {

QByteArray ByteSource::readBatch(qsizetype max) {
    QByteArray out;
    while (out.size() < max) {
        const int byte = getByte();
        if (byte < 0)
            break;
        out.append(static_cast<char>(byte));
    }
    return out;
}

} // namespace tavlo::worker
