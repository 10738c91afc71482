#include "worker/SerialByteSource.h"

#include "serial/SerialPortLocal.h"

namespace tavlo::worker {

SerialByteSource::SerialByteSource(std::unique_ptr<serial::SerialPortLocal> port) : m_port(std::move(port)) {}

SerialByteSource::~SerialByteSource() = default;

int SerialByteSource::getByte() {
    return m_port->getByte();
}

bool SerialByteSource::sigParityErr() {
    return m_port->sigParityErr();
}

bool SerialByteSource::sigFrameErr() {
    return m_port->sigFrameErr();
}

void SerialByteSource::putData(const QByteArray& data) {
    m_port->putData(data);
}

void SerialByteSource::close() {
    m_port->close();
}

} // namespace tavlo::worker
