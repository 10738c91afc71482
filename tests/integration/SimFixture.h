#pragma once

// Points the serial layer at tspSim, the simulated native library, with the Windows feature set that the
// program uses everywhere, and gives every test fresh virtual ports.

#include "../fakes/SimSetup.h"

#include <QByteArray>
#include <QString>
#include <gtest/gtest.h>

namespace tavlo::test {

class SimFixture : public ::testing::Test {
protected:
    void SetUp() override { useSim(); }
    void TearDown() override { resetSim(); }

    static void feed(const char* port, const QByteArray& bytes) {
        tspSimFeed(port, reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<int32_t>(bytes.size()));
    }
    static QString simLog() { return QString::fromLatin1(tspSimLog()); }
};

} // namespace tavlo::test
