// The Windows serial library (tspWin.dll) through its C entry points, on COM5, a pseudo-terminal under Wine
// whose far end echoes (tests/windows/wine_peer.py). COM6 is that far end's control line.
#include "WineCheck.h"
#include "native/tsp.h"
#include "serial/loader/NativeLoading.h"
#include "serial/loader/SharedLibrary.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using wine_check::report;
namespace loader = serial::loader;

namespace {

#define TSP_ENTRY_POINTS(X)                                                                                            \
    X(SerOpenPort)                                                                                                     \
    X(SerConfigure)                                                                                                    \
    X(SerClosePort)                                                                                                    \
    X(SerGetByte)                                                                                                      \
    X(SerGetData)                                                                                                      \
    X(SerPutData)                                                                                                      \
    X(SerSetTimeoutRx)                                                                                                 \
    X(SerSetDTR)                                                                                                       \
    X(SerSetRTS)                                                                                                       \
    X(SerSigCTS)                                                                                                       \
    X(SerSigDSR)                                                                                                       \
    X(SerSigCD)                                                                                                        \
    X(SerSigRing)                                                                                                      \
    X(SerRxReadyCount)

struct Library {
#define TSP_MEMBER(name) decltype(&::name) name = nullptr;
    TSP_ENTRY_POINTS(TSP_MEMBER)
#undef TSP_MEMBER
};

Library g;

bool resolve(void* handle, Library& library, std::string& missing) {
#define TSP_RESOLVE(name)                                                                                              \
    library.name = reinterpret_cast<decltype(library.name)>(loader::findEntryPoint(handle, #name));                    \
    if (!library.name) {                                                                                               \
        missing = #name;                                                                                               \
        return false;                                                                                                  \
    }
    TSP_ENTRY_POINTS(TSP_RESOLVE)
#undef TSP_RESOLVE
    return true;
}

long long millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

TspPortConfig record(const char* name, int32_t rate = 9600, int32_t dataBits = 3, int32_t parity = 0,
                     int32_t stopBits = 0) {
    TspPortConfig c{};
    c.portName = name;
    c.baseName = name;
    c.bitRate = rate;
    c.dataBits = dataBits;
    c.parity = parity;
    c.stopBits = stopBits;
    return c;
}

// Opens and configures a port; -1 with the code in `code` on failure.
int32_t open(const char* name, int32_t& code) {
    TspPortConfig c = record(name);
    code = g.SerOpenPort(&c);
    if (code != TSP_OK)
        return -1;
    const int32_t handle = c.port - 1;
    code = g.SerConfigure(handle, &c);
    if (code != TSP_OK) {
        g.SerClosePort(handle);
        return -1;
    }
    return handle;
}

// The control line to the far end.
class Control {
public:
    explicit Control(int32_t handle) : m_handle(handle) {}

    std::string ask(const std::string& command) {
        const std::string line = command + "\n";
        g.SerPutData(m_handle, reinterpret_cast<const uint8_t*>(line.data()), static_cast<int32_t>(line.size()));
        g.SerSetTimeoutRx(m_handle, 5000);
        std::string answer;
        for (;;) {
            const int32_t b = g.SerGetByte(m_handle);
            if (b < 0 || b == '\n')
                return b < 0 ? "(no answer)" : answer;
            answer.push_back(static_cast<char>(b));
        }
    }

private:
    int32_t m_handle;
};

void checkLoading() {
    void* handle = nullptr;
    try {
        const loader::LoadedLibrary loaded = loader::loadByName("tspWin");
        handle = loaded.handle;
        std::string missing;
        const bool all = resolve(handle, g, missing);
        report(all && loaded.origin == "tspWin.dll", "load tspWin.dll by name",
               all ? loaded.origin : "lacks " + missing);
    } catch (const loader::LoadFailure& failure) {
        report(false, "load tspWin.dll by name", failure.what());
    }

    try {
        loader::loadByName("tspNowhere");
        report(false, "missing library reported with the system's text", "it loaded");
    } catch (const loader::LoadFailure& failure) {
        // ERROR_MOD_NOT_FOUND, with its text from the system.
        const std::string text = failure.what();
        report(text.find("Native library tspNowhere not loaded: ") == 0 && text.find("(126)") != std::string::npos &&
                   text.size() > std::strlen("Native library tspNowhere not loaded: (126)"),
               "missing library reported with the system's text", text);
    }

    // The user's-folder fallback: a library that is not on the search path but in the home folder is loaded
    // from there, and then by name, which finds that very module.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring home = std::wstring(temp) + L"tavlo-home";
    CreateDirectoryW(home.c_str(), nullptr);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(static_cast<HMODULE>(handle), self, MAX_PATH);
    const std::wstring copy = home + L"\\tspAway.dll";
    CopyFileW(self, copy.c_str(), FALSE);
    std::string homeUtf8(
        static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, home.c_str(), -1, nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, home.c_str(), -1, homeUtf8.data(), static_cast<int>(homeUtf8.size()), nullptr,
                        nullptr);
    homeUtf8.pop_back();
    // The program takes the home folder from Qt, which writes it with forward slashes.
    for (char& c : homeUtf8)
        c = c == '\\' ? '/' : c;
    bool notByName = false;
    try {
        loader::loadByName("tspAway");
    } catch (const loader::LoadFailure&) {
        notByName = true;
    }
    try {
        const loader::LoadedLibrary loaded = loader::loadFromUserFolder("tspAway", homeUtf8);
        wchar_t from[MAX_PATH];
        GetModuleFileNameW(static_cast<HMODULE>(loaded.handle), from, MAX_PATH);
        Library other;
        std::string missing;
        report(notByName && _wcsicmp(from, copy.c_str()) == 0 && resolve(loaded.handle, other, missing),
               "library in the user's folder, then by name",
               std::string(notByName ? "" : "found by name before the fallback; ") + "loaded " + loaded.origin);
    } catch (const loader::LoadFailure& failure) {
        report(false, "library in the user's folder, then by name", failure.what());
    }
}

void checkPorts() {
    int32_t code = 0;
    TspPortConfig missing = record("COM9");
    code = g.SerOpenPort(&missing);
    report(code == TSP_ERR_NO_FILE, "a port that does not exist", "SerOpenPort gave " + std::to_string(code));

    const int32_t control = open("COM6", code);
    if (control < 0) {
        report(false, "open the control line COM6", std::to_string(code));
        return;
    }
    Control peer(control);
    const int32_t port = open("COM5", code);
    report(port >= 0, "open and configure COM5", std::to_string(code));
    if (port < 0)
        return;

    TspPortConfig again = record("COM5");
    report(g.SerOpenPort(&again) == TSP_ERR_ALREADY_OPEN, "a second open of COM5 is refused by the library");

    // Every bit rate the settings offer, as the Windows layer passes them (as numbers).
    static const int32_t rates[] = {110,   150,   300,   600,    1200,   2400,   4800,  9600,
                                    19200, 38400, 57600, 115200, 230400, 460800, 921600};
    std::string wrong;
    for (int32_t rate : rates) {
        TspPortConfig c = record("COM5", rate);
        const int32_t result = g.SerConfigure(port, &c);
        const std::string seen = peer.ask("TERMIOS");
        if (result != TSP_OK || seen != std::to_string(rate) + " 8 N 1")
            wrong += " " + std::to_string(rate) + "->" + std::to_string(result) + "/" + seen;
    }
    report(wrong.empty(), "each bit rate reaches the device", wrong);

    // Every data format: 5 to 8 data bits, each parity, one or two stop bits. Each is accepted; a Linux
    // pseudo-terminal keeps only the stop bits (it forces 8 data bits without parity), so those are compared.
    wrong.clear();
    for (int32_t bits = 0; bits < 4; ++bits) {
        for (int32_t parity = 0; parity < 5; ++parity) {
            for (int32_t stop = 0; stop < 2; ++stop) {
                TspPortConfig c = record("COM5", 19200, bits, parity, stop);
                const int32_t result = g.SerConfigure(port, &c);
                const std::string expected = "19200 8 N " + std::to_string(stop + 1);
                const std::string seen = peer.ask("TERMIOS");
                if (result != TSP_OK || seen != expected)
                    wrong += " [" + std::to_string(5 + bits) + "NOEMS"[parity] + std::to_string(stop + 1) + "]->" +
                             std::to_string(result) + "/" + seen;
            }
        }
    }
    report(wrong.empty(), "each data format reaches the device", wrong);

    TspPortConfig plain = record("COM5", 115200);
    g.SerConfigure(port, &plain);

    // Every byte value, out and back.
    std::vector<uint8_t> all(256);
    for (int i = 0; i < 256; ++i)
        all[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    const int32_t sent = g.SerPutData(port, all.data(), 256);
    g.SerSetTimeoutRx(port, 3000);
    std::vector<uint8_t> back;
    while (back.size() < 256) {
        const int32_t b = g.SerGetByte(port);
        if (b < 0)
            break;
        back.push_back(static_cast<uint8_t>(b));
    }
    report(sent == 256 && back == all, "bytes 0 to 255 out and back",
           "sent " + std::to_string(sent) + ", received " + std::to_string(back.size()));

    // Receive time-outs.
    g.SerSetTimeoutRx(port, 0);
    auto start = std::chrono::steady_clock::now();
    const int32_t none = g.SerGetByte(port);
    report(none == TSP_NO_BYTE, "time-out 0 returns at once without a byte",
           std::to_string(none) + " after " + std::to_string(millisecondsSince(start)) + " ms");

    peer.ask("LATER 300 65");
    const int32_t early = g.SerGetByte(port);
    g.SerSetTimeoutRx(port, 10000);
    start = std::chrono::steady_clock::now();
    const int32_t waited = g.SerGetByte(port);
    report(early == TSP_NO_BYTE && waited == 65, "a positive time-out waits for the first byte",
           "before " + std::to_string(early) + ", then " + std::to_string(waited) + " after " +
               std::to_string(millisecondsSince(start)) + " ms");

    peer.ask("LATER 300 66");
    uint8_t chunk[16] = {};
    const int32_t got = g.SerGetData(port, chunk, 16);
    report(got == 1 && chunk[0] == 66, "a block read waits for the first byte too", std::to_string(got));

    g.SerSetTimeoutRx(port, 200);
    report(g.SerGetByte(port) == TSP_NO_BYTE, "a positive time-out without a byte ends with none");

    // Lines a pseudo-terminal does not have read as off; changing them is accepted.
    const int32_t lines[4] = {g.SerSigCTS(port), g.SerSigDSR(port), g.SerSigCD(port), g.SerSigRing(port)};
    const int32_t set[2] = {g.SerSetDTR(port, 1), g.SerSetRTS(port, 0)};
    report(lines[0] == 0 && lines[1] == 0 && lines[2] == 0 && lines[3] == 0 && set[0] == 0 && set[1] == 0,
           "a port without modem lines reads them off and accepts changes",
           "CTS DSR CD RI " + std::to_string(lines[0]) + " " + std::to_string(lines[1]) + " " +
               std::to_string(lines[2]) + " " + std::to_string(lines[3]) + ", DTR RTS " + std::to_string(set[0]) + " " +
               std::to_string(set[1]));

    // Closing while another thread waits in a read ends that read.
    g.SerSetTimeoutRx(port, 20000);
    std::atomic<int32_t> result{1000};
    std::atomic<long long> readFor{-1};
    std::thread reader([&] {
        const auto begin = std::chrono::steady_clock::now();
        result = g.SerGetByte(port);
        readFor = millisecondsSince(begin);
    });
    Sleep(500);
    start = std::chrono::steady_clock::now();
    const int32_t closed = g.SerClosePort(port);
    const long long closeTook = millisecondsSince(start);
    reader.join();
    report(closed == TSP_OK && readFor.load() >= 0 && closeTook < 15000, "closing ends a read that waits",
           "close took " + std::to_string(closeTook) + " ms, the read returned " + std::to_string(result.load()));

    // A line that goes away under an open port is a failed read, not "no byte".
    const int32_t again2 = open("COM5", code);
    if (again2 < 0) {
        report(false, "a hung-up line is a read failure", "reopen gave " + std::to_string(code));
    } else {
        g.SerSetTimeoutRx(again2, 500);
        const std::string hung = peer.ask("HANGUP");
        const int32_t first = g.SerGetByte(again2);
        const int32_t second = g.SerGetByte(again2);
        report(hung == "OK" && first == TSP_READ_FAILED && second == TSP_READ_FAILED,
               "a hung-up line is a read failure", std::to_string(first) + " " + std::to_string(second));
        const int32_t cts = g.SerSigCTS(again2);
        report(cts == -1, "a hung-up line fails its modem-line queries", std::to_string(cts));
        g.SerClosePort(again2);
    }
    g.SerClosePort(control);
}

} // namespace

int main() {
    checkLoading();
    if (!g.SerOpenPort)
        return 1;
    checkPorts();
    return wine_check::failures() == 0 ? 0 : 1;
}
