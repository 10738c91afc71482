#pragma once

#include "base/SystemProperties.h"
#include "native/sim/tspSimControl.h"
#include "serial/SerialArgumentError.h"
#include "serial/SerialIoError.h"
#include "serial/SerialPortLocal.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

// Tests of the serial layer over tspSim: each test starts a fresh set-up of the layer on the system it names,
// with the simulated library and one virtual port COM3.
class SimFixture : public testing::Test {
protected:
    void SetUp() override {
        tspSimReset();
        useSystem("Windows", "x86");
        tspSimAddPort("COM3", "FTDI", "USB Serial Port");
    }

    void TearDown() override {
        tspSimReset();
        serial::SerialPortLocal::resetForTesting();
        for (const char* name : {"TSP_OSNAME", "TSP_OSARCH", "TSP_LIBRARY_PATH", "SERIAL_PORT_LIST"})
            tavlo::base::SystemProperties::remove(QString::fromLatin1(name));
    }

    static void useSystem(const char* os, const char* arch) {
        using tavlo::base::SystemProperties;
        SystemProperties::set(QStringLiteral("TSP_OSNAME"), QString::fromUtf8(os));
        SystemProperties::set(QStringLiteral("TSP_OSARCH"), QString::fromUtf8(arch));
        SystemProperties::set(QStringLiteral("TSP_LIBRARY_PATH"), QStringLiteral(TAVLO_BIN_DIR "/libtspSim.so"));
        SystemProperties::remove(QStringLiteral("SERIAL_PORT_LIST"));
        serial::SerialPortLocal::resetForTesting();
    }

    static serial::SerialConfig configFor(const char* name) { return serial::SerialConfig(QString::fromUtf8(name)); }

    static std::string simLog() { return tspSimLog(); }

    // The SerialIoError text of the action, or "" when it raised nothing.
    static QString ioFailure(const std::function<void()>& action) {
        try {
            action();
        } catch (const serial::SerialIoError& e) {
            return e.message();
        }
        return QString();
    }

    static void feed(const char* port, const std::string& bytes) {
        tspSimFeed(port, reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int32_t>(bytes.size()));
    }

    static std::string output(const char* port) {
        uint8_t buffer[4096];
        const int32_t n = tspSimTakeOutput(port, buffer, sizeof buffer);
        return std::string(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    }
};
