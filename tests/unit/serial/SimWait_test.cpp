// A read that waits in the simulated library: what ends it, and that a write beside it is not held up.
// The reads wait with an hour's receive timeout, so that an event which fails to wake them shows up as a
// read that never returns (the ten-second limits below only keep such a failure from hanging the run).
#include "SimFixture.h"

#include <chrono>
#include <functional>
#include <future>
#include <thread>

using serial::SerialPortLocal;

namespace {

constexpr int32_t kHourMs = 3600000;
constexpr auto kLiveness = std::chrono::seconds(10);

// The byte a read returned, or its SerialIoError text.
struct ReadResult {
    int32_t byte = -3;
    QString failure;
};

class SimWaitTest : public SimFixture {
protected:
    // Starts a read of one byte on another thread and returns once it waits inside the library.
    std::future<ReadResult> startWaitingRead(SerialPortLocal& port) {
        port.setTimeoutRx(kHourMs);
        tspSimClearLog();
        std::future<ReadResult> read = std::async(std::launch::async, [&port] {
            ReadResult r;
            try {
                r.byte = port.getByte();
            } catch (const serial::SerialIoError& e) {
                r.failure = e.message();
            }
            return r;
        });
        // The call is logged under the library's lock, which the wait gives up only once it waits.
        while (simLog().find("SerGetByte") == std::string::npos)
            std::this_thread::yield();
        return read;
    }
};

void feedCom3(const std::string& bytes) {
    tspSimFeed("COM3", reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int32_t>(bytes.size()));
}

struct WakeCase {
    const char* name;
    std::function<void(SerialPortLocal&)> event;
    int32_t byte;
    const char* failure;
};

class WaitEndsAt : public SimWaitTest, public testing::WithParamInterface<WakeCase> {};

TEST_P(WaitEndsAt, TheEventNotTheTimeout) {
    SerialPortLocal port(configFor("COM3"));
    std::future<ReadResult> read = startWaitingRead(port);
    GetParam().event(port);
    ASSERT_EQ(read.wait_for(kLiveness), std::future_status::ready) << "the read waited for its timeout";
    const ReadResult r = read.get();
    EXPECT_EQ(r.byte, GetParam().byte);
    EXPECT_EQ(r.failure, QString::fromLatin1(GetParam().failure));
}

INSTANTIATE_TEST_SUITE_P(
    Events, WaitEndsAt,
    testing::Values(
        WakeCase{"AFedByte", [](SerialPortLocal&) { feedCom3("x"); }, 'x', ""},
        WakeCase{"AFedZeroByte", [](SerialPortLocal&) { feedCom3(std::string(1, '\0')); }, 0, ""},
        WakeCase{"AByteWithALineError", [](SerialPortLocal&) { tspSimFeedByte("COM3", 'p', TSP_SIM_PARITY); }, 'p', ""},
        WakeCase{"CloseFromAnotherThread", [](SerialPortLocal& port) { port.close(); }, -3, "getByte failed"},
        WakeCase{"Unplugging", [](SerialPortLocal&) { tspSimUnplug("COM3"); }, -3, "getByte failed"}),
    [](const testing::TestParamInfo<WakeCase>& info) { return std::string(info.param.name); });

TEST_F(SimWaitTest, AWriteGoesOutWhileTheReadWaitsAndTheReadGoesOnWaiting) {
    SerialPortLocal port(configFor("COM3"));
    std::future<ReadResult> read = startWaitingRead(port);
    port.putData(QByteArrayLiteral("Q\r\n"));
    EXPECT_EQ(output("COM3"), "Q\r\n");
    EXPECT_EQ(read.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
        << "a write must not end the read with no byte";
    feed("COM3", "7");
    ASSERT_EQ(read.wait_for(kLiveness), std::future_status::ready);
    EXPECT_EQ(read.get().byte, '7');
}

TEST_F(SimWaitTest, GetDataWaitsForTheFirstBytesAndTakesWhatCame) {
    SerialPortLocal port(configFor("COM3"));
    port.setTimeoutRx(kHourMs);
    tspSimClearLog();
    std::future<int32_t> read = std::async(std::launch::async, [&port] {
        QByteArray buffer(8, '\0');
        const int32_t n = port.getData(buffer);
        return n == 3 && buffer.left(3) == "abc" ? n : -100 - n;
    });
    while (simLog().find("SerGetData") == std::string::npos)
        std::this_thread::yield();
    feed("COM3", "abc");
    ASSERT_EQ(read.wait_for(kLiveness), std::future_status::ready);
    EXPECT_EQ(read.get(), 3);
}

TEST_F(SimWaitTest, AShortTimeoutWithoutInputGivesNoByte) {
    SerialPortLocal port(configFor("COM3"));
    port.setTimeoutRx(5);
    EXPECT_EQ(port.getByte(), -1);
    feed("COM3", "z");
    EXPECT_EQ(port.getByte(), 'z');
}

} // namespace
