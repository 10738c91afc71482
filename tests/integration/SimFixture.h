#pragma once

// Points the serial layer at tspSim, the simulated native library, with the Windows feature set that the
// program uses everywhere, and gives every test fresh virtual ports.

#include "native/sim/tspSimControl.h"
#include "serial/SerialPortLocal.h"
#include "tavlo/util/SystemProperties.h"

#include <QByteArray>
#include <QString>
#include <gtest/gtest.h>

namespace tavlo::test {

class SimFixture : public ::testing::Test {
protected:
    void SetUp() override {
        using util::SystemProperties;
        SystemProperties::set(QStringLiteral("TSP_LIBRARY_PATH"), QStringLiteral(TAVLO_BIN_DIR "/libtspSim.so"));
        SystemProperties::set(QStringLiteral("TSP_OSNAME"), QStringLiteral("Windows"));
        SystemProperties::set(QStringLiteral("TSP_OSARCH"), QStringLiteral("x86"));
        tspSimReset();
        serial::SerialPortLocal::resetForTesting();
    }
    void TearDown() override {
        tspSimReset();
        serial::SerialPortLocal::resetForTesting();
    }

    static void feed(const char* port, const QByteArray& bytes) {
        tspSimFeed(port, reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<int32_t>(bytes.size()));
    }
    static QString simLog() { return QString::fromLatin1(tspSimLog()); }
};

} // namespace tavlo::test
