#pragma once

#include <cstdint>

namespace serial {

// Receives error codes of port operations that report instead of raising (rxReadyCount).
class ErrorStatusHandler {
public:
    virtual ~ErrorStatusHandler() = default;
    virtual void sioErrorEvent(int32_t errorCode) = 0;
};

} // namespace serial
