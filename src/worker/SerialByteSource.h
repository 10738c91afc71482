#pragma once

#include "worker/ByteSource.h"

#include <memory>

namespace serial {
class SerialPortLocal;
}

namespace tavlo::worker {

// The serial port as a byte source: a thin wrapper that passes every call to the port object.
class SerialByteSource : public ByteSource {
public:
    explicit SerialByteSource(std::unique_ptr<serial::SerialPortLocal> port);
    ~SerialByteSource() override;

    int getByte() override;
    bool sigParityErr() override;
    bool sigFrameErr() override;
    void putData(const QByteArray& data) override;
    void close() override;

    serial::SerialPortLocal& port() { return *m_port; }

private:
    std::unique_ptr<serial::SerialPortLocal> m_port;
};

} // namespace tavlo::worker
