// The simulated native serial library: the entry points of tsp.h over virtual ports that tests control.
#include "native/sim/tspSimControl.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int32_t kSlots = 64;

struct SimPort {
    std::string name;
    std::optional<std::pair<std::string, std::string>> info;
    int32_t openResult = TSP_OK;
    bool unplugged = false;
    bool open = false;
    std::deque<std::pair<uint8_t, int32_t>> input;
    std::vector<uint8_t> output;
    int32_t lines = 0;
    int32_t outputLines = 0;
    int32_t latched = 0;
    int32_t timeoutRx = 0;
    int32_t timeoutTx = 0;
};

struct State {
    std::mutex lock;
    std::condition_variable inputArrived;
    std::vector<SimPort> ports;
    std::string slots[kSlots];
    std::map<std::string, int32_t> forced;
    std::vector<std::string> log;
    TspDeviceNotification notification = nullptr;
    void* notificationContext = nullptr;
    int32_t instanceLock = 0;
    int32_t powerMode = 1;
};

State& state() {
    static State s;
    return s;
}

SimPort* byName(State& s, const std::string& name) {
    for (SimPort& p : s.ports) {
        if (p.name == name)
            return &p;
    }
    return nullptr;
}

SimPort* byHandle(State& s, int32_t handle) {
    if (handle < 0 || handle >= kSlots || s.slots[handle].empty())
        return nullptr;
    return byName(s, s.slots[handle]);
}

// An open, present port, or null.
SimPort* live(State& s, int32_t handle) {
    SimPort* p = byHandle(s, handle);
    return p && !p->unplugged ? p : nullptr;
}

template <typename... Args> std::string callText(const char* entry, const Args&... args) {
    std::ostringstream out;
    out << entry << '(';
    [[maybe_unused]] const char* separator = "";
    ((out << separator << args, separator = ", "), ...);
    out << ')';
    return out.str();
}

// Logs the call; returns the forced result if a test set one.
template <typename... Args> std::optional<int32_t> enter(State& s, const char* entry, const Args&... args) {
    s.log.push_back(callText(entry, args...));
    const auto it = s.forced.find(entry);
    if (it == s.forced.end())
        return std::nullopt;
    return it->second;
}

std::string text(const char* s) {
    return s ? std::string(s) : std::string("(null)");
}

int32_t lineQuery(const char* entry, int32_t handle, int32_t bit) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    if (auto r = enter(s, entry, handle))
        return *r;
    SimPort* p = live(s, handle);
    if (!p)
        return -1;
    return (p->lines & bit) ? 1 : 0;
}

int32_t conditionQuery(const char* entry, int32_t handle, int32_t bit) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    if (auto r = enter(s, entry, handle))
        return *r;
    SimPort* p = live(s, handle);
    if (!p)
        return -1;
    const bool seen = (p->latched & bit) != 0;
    p->latched &= ~bit;
    return seen ? 1 : 0;
}

// Waits up to the port's receive timeout for input; the port, or null when it is gone or closed meanwhile.
SimPort* waitForInput(State& s, std::unique_lock<std::mutex>& lock, int32_t handle) {
    SimPort* p = live(s, handle);
    if (!p || !p->input.empty() || p->timeoutRx <= 0)
        return p;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(p->timeoutRx);
    s.inputArrived.wait_until(lock, deadline, [&] {
        SimPort* q = live(s, handle);
        return !q || !q->input.empty();
    });
    return live(s, handle);
}

uint8_t takeByte(SimPort& p) {
    const auto [byte, flags] = p.input.front();
    p.input.pop_front();
    p.latched |= flags;
    return byte;
}

int32_t simpleCall(const char* entry, int32_t handle) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    if (auto r = enter(s, entry, handle))
        return *r;
    return live(s, handle) ? 0 : -1;
}

} // namespace

extern "C" {

int32_t SerOpenPort(TspPortConfig* config) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    const std::string name = config && config->portName ? config->portName : "";
    if (auto r = enter(s, "SerOpenPort", name))
        return *r;
    if (name.empty())
        return TSP_ERR_NOT_VALID;
    SimPort* p = byName(s, name);
    if (!p || p->unplugged)
        return TSP_ERR_NO_FILE;
    if (p->open)
        return TSP_ERR_ALREADY_OPEN;
    if (p->openResult != TSP_OK)
        return p->openResult;
    for (int32_t i = 0; i < kSlots; ++i) {
        if (s.slots[i].empty()) {
            s.slots[i] = name;
            p->open = true;
            p->timeoutRx = p->timeoutTx = 0;
            p->outputLines = 0;
            config->port = i + 1;
            return TSP_OK;
        }
    }
    return TSP_ERR_NO_SLOT;
}

int32_t SerConfigure(int32_t handle, const TspPortConfig* config) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    std::ostringstream settings;
    if (config)
        settings << "bitRate=" << config->bitRate << " dataBits=" << config->dataBits << " parity=" << config->parity
                 << " stopBits=" << config->stopBits << " handshake=" << config->handshake;
    if (auto r = enter(s, "SerConfigure", handle, settings.str()))
        return *r;
    if (!config)
        return TSP_ERR_NOT_VALID;
    return live(s, handle) ? TSP_OK : TSP_ERR_NOT_OPEN;
}

int32_t SerClosePort(int32_t handle) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    const std::optional<int32_t> forced = enter(s, "SerClosePort", handle);
    SimPort* p = byHandle(s, handle);
    if (!p)
        return forced.value_or(TSP_ERR_NOT_OPEN);
    // A forced failure still releases the port, as a real close that reports an error does.
    p->open = false;
    s.slots[handle].clear();
    s.inputArrived.notify_all();
    return forced.value_or(TSP_OK);
}

int32_t SerGetByte(int32_t handle) {
    State& s = state();
    std::unique_lock<std::mutex> lock(s.lock);
    if (auto r = enter(s, "SerGetByte", handle))
        return *r;
    SimPort* p = waitForInput(s, lock, handle);
    if (!p)
        return TSP_READ_FAILED;
    if (p->input.empty())
        return TSP_NO_BYTE;
    return takeByte(*p);
}

int32_t SerGetData(int32_t handle, uint8_t* buffer, int32_t count) {
    State& s = state();
    std::unique_lock<std::mutex> lock(s.lock);
    if (auto r = enter(s, "SerGetData", handle, count))
        return *r;
    if (!buffer || count < 0)
        return -1;
    SimPort* p = waitForInput(s, lock, handle);
    if (!p)
        return -1;
    int32_t n = 0;
    while (n < count && !p->input.empty())
        buffer[n++] = takeByte(*p);
    return n;
}

int32_t SerPutByte(int32_t handle, uint8_t byte) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    if (auto r = enter(s, "SerPutByte", handle, static_cast<int>(byte)))
        return *r;
    SimPort* p = live(s, handle);
    if (!p)
        return TSP_ERR_NOT_OPEN;
    p->output.push_back(byte);
    return TSP_OK;
}

int32_t SerPutData(int32_t handle, const uint8_t* buffer, int32_t count) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    if (auto r = enter(s, "SerPutData", handle, count))
        return *r;
    SimPort* p = live(s, handle);
    if (!p || !buffer || count <= 0)
        return 0;
    p->output.insert(p->output.end(), buffer, buffer + count);
    return count;
}

int32_t SerRxReadyCount(int32_t handle) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    if (auto r = enter(s, "SerRxReadyCount", handle))
        return *r;
    SimPort* p = live(s, handle);
    return p ? static_cast<int32_t>(p->input.size()) : -1;
}

int32_t SerTxBufCount(int32_t handle) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    if (auto r = enter(s, "SerTxBufCount", handle))
        return *r;
    // Sent bytes count as on their way until a test takes them.
    SimPort* p = live(s, handle);
    return p ? static_cast<int32_t>(p->output.size()) : -1;
}

int32_t SerRxFlush(int32_t handle) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    if (auto r = enter(s, "SerRxFlush", handle))
        return *r;
    SimPort* p = live(s, handle);
    if (!p)
        return -1;
    p->input.clear();
    return 0;
}

int32_t SerTxFlush(int32_t handle) {
    return simpleCall("SerTxFlush", handle);
}
int32_t SerTxDrain(int32_t handle) {
    return simpleCall("SerTxDrain", handle);
}

static int32_t setOutputLine(const char* entry, int32_t handle, int32_t on, int32_t bit) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    if (auto r = enter(s, entry, handle, on))
        return *r;
    SimPort* p = live(s, handle);
    if (!p)
        return -1;
    p->outputLines = on ? (p->outputLines | bit) : (p->outputLines & ~bit);
    return 0;
}

int32_t SerSetDTR(int32_t handle, int32_t on) {
    return setOutputLine("SerSetDTR", handle, on, TSP_LINE_DTR);
}
int32_t SerSetRTS(int32_t handle, int32_t on) {
    return setOutputLine("SerSetRTS", handle, on, TSP_LINE_RTS);
}
int32_t SerSigCTS(int32_t handle) {
    return lineQuery("SerSigCTS", handle, TSP_LINE_CTS);
}
int32_t SerSigDSR(int32_t handle) {
    return lineQuery("SerSigDSR", handle, TSP_LINE_DSR);
}
int32_t SerSigCD(int32_t handle) {
    return lineQuery("SerSigCD", handle, TSP_LINE_CD);
}
int32_t SerSigRing(int32_t handle) {
    return lineQuery("SerSigRing", handle, TSP_LINE_RING);
}
int32_t SerSigBreak(int32_t handle) {
    return conditionQuery("SerSigBreak", handle, TSP_SIM_BREAK);
}
int32_t SerSigFrameErr(int32_t handle) {
    return conditionQuery("SerSigFrameErr", handle, TSP_SIM_FRAME);
}
int32_t SerSigOverrun(int32_t handle) {
    return conditionQuery("SerSigOverrun", handle, TSP_SIM_OVERRUN);
}
int32_t SerSigParityErr(int32_t handle) {
    return conditionQuery("SerSigParityErr", handle, TSP_SIM_PARITY);
}
int32_t SerRxOverflow(int32_t handle) {
    return conditionQuery("SerRxOverflow", handle, TSP_SIM_OVERFLOW);
}

int32_t SerSendBreak(int32_t handle, int32_t milliseconds) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    if (auto r = enter(s, "SerSendBreak", handle, milliseconds))
        return *r;
    return live(s, handle) ? 0 : -1;
}

static int32_t setTimeout(const char* entry, int32_t handle, int32_t ms, bool rx) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    if (auto r = enter(s, entry, handle, ms))
        return *r;
    SimPort* p = live(s, handle);
    if (!p || ms < 0)
        return -1;
    (rx ? p->timeoutRx : p->timeoutTx) = ms;
    return 0;
}

static int32_t getTimeout(const char* entry, int32_t handle, bool rx) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    if (auto r = enter(s, entry, handle))
        return *r;
    SimPort* p = live(s, handle);
    if (!p)
        return -1;
    return rx ? p->timeoutRx : p->timeoutTx;
}

int32_t SerSetTimeoutRx(int32_t handle, int32_t ms) {
    return setTimeout("SerSetTimeoutRx", handle, ms, true);
}
int32_t SerSetTimeoutTx(int32_t handle, int32_t ms) {
    return setTimeout("SerSetTimeoutTx", handle, ms, false);
}
int32_t SerGetTimeoutRx(int32_t handle) {
    return getTimeout("SerGetTimeoutRx", handle, true);
}
int32_t SerGetTimeoutTx(int32_t handle) {
    return getTimeout("SerGetTimeoutTx", handle, false);
}

int32_t SerResetPortDriver(const char* driver) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    return enter(s, "SerResetPortDriver", text(driver)).value_or(TSP_OK);
}

const char* SerGetLibVer(void) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    enter(s, "SerGetLibVer");
    return "tspSim 1.0.0";
}

const char* SerGetName(int32_t which) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    enter(s, "SerGetName", which);
    return "Simulated Port";
}

int32_t SerFlowTask(int32_t handle) {
    return simpleCall("SerFlowTask", handle);
}

int32_t SerServerTask(char* message, int32_t messageSize) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    const int32_t r = enter(s, "SerServerTask").value_or(TSP_ERR_UNSUPPORTED);
    if (r != TSP_OK && message && messageSize > 0) {
        std::strncpy(message, "no port server", static_cast<size_t>(messageSize) - 1);
        message[messageSize - 1] = '\0';
    }
    return r;
}

int32_t SerGetInstanceLock(void) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    return enter(s, "SerGetInstanceLock").value_or(s.instanceLock);
}

int32_t SerSetInstanceLock(int32_t value) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    if (auto r = enter(s, "SerSetInstanceLock", value))
        return *r;
    s.instanceLock = value;
    return 0;
}

int32_t SerGetStatusAPM(void) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    return enter(s, "SerGetStatusAPM").value_or(0);
}

int32_t SerGetResumeState(int32_t flag) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    return enter(s, "SerGetResumeState", flag).value_or(0);
}

int32_t SerGetPowerMode(int32_t which) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    return enter(s, "SerGetPowerMode", which).value_or(s.powerMode);
}

int32_t SerSetPowerMode(int32_t which, int32_t mode) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    if (auto r = enter(s, "SerSetPowerMode", which, mode))
        return *r;
    s.powerMode = mode;
    return 0;
}

int32_t SerRegisterDeviceNotification(TspDeviceNotification callback, void* context) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    enter(s, "SerRegisterDeviceNotification", callback ? "callback" : "null");
    s.notification = callback;
    s.notificationContext = context;
    return 0;
}

int32_t SerUnregisterDeviceNotification(TspDeviceNotification callback, void* context) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    enter(s, "SerUnregisterDeviceNotification", callback ? "callback" : "null");
    if (s.notification == callback && s.notificationContext == context) {
        s.notification = nullptr;
        s.notificationContext = nullptr;
    }
    return 0;
}

int32_t SerGetPortList(const TspHost* host) {
    std::vector<std::pair<std::string, std::optional<std::pair<std::string, std::string>>>> listed;
    {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.lock);
        if (auto r = enter(s, "SerGetPortList"))
            return *r;
        for (const SimPort& p : s.ports) {
            if (!p.unplugged)
                listed.emplace_back(p.name, p.info);
        }
    }
    // The callbacks run without the lock: the host may call back into the library from them.
    if (!host)
        return -1;
    for (const auto& [name, info] : listed) {
        if (host->addPortName)
            host->addPortName(host->context, name.c_str());
        if (info && host->addPortInfo)
            host->addPortInfo(host->context, name.c_str(), info->first.c_str(), info->second.c_str());
    }
    return static_cast<int32_t>(listed.size());
}

const char* SerGetPortMfgr(const char* portName) {
    thread_local std::string maker;
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    enter(s, "SerGetPortMfgr", text(portName));
    SimPort* p = portName ? byName(s, portName) : nullptr;
    maker = p && p->info ? p->info->first : std::string();
    return maker.c_str();
}

// Control calls.

void tspSimReset(void) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    s.ports.clear();
    for (std::string& slot : s.slots)
        slot.clear();
    s.forced.clear();
    s.log.clear();
    s.notification = nullptr;
    s.notificationContext = nullptr;
    s.instanceLock = 0;
    s.powerMode = 1;
    s.inputArrived.notify_all();
}

void tspSimAddPort(const char* name, const char* maker, const char* description) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    SimPort* p = byName(s, text(name));
    if (!p) {
        s.ports.push_back(SimPort{});
        p = &s.ports.back();
        p->name = text(name);
    }
    p->unplugged = false;
    if (maker)
        p->info = std::make_pair(std::string(maker), description ? std::string(description) : std::string());
    else
        p->info.reset();
}

void tspSimSetOpenResult(const char* name, int32_t code) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    if (SimPort* p = byName(s, text(name)))
        p->openResult = code;
}

void tspSimFeed(const char* name, const uint8_t* bytes, int32_t count) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    if (SimPort* p = byName(s, text(name))) {
        for (int32_t i = 0; i < count; ++i)
            p->input.emplace_back(bytes[i], 0);
    }
    s.inputArrived.notify_all();
}

void tspSimFeedByte(const char* name, uint8_t byte, int32_t flags) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    if (SimPort* p = byName(s, text(name)))
        p->input.emplace_back(byte, flags);
    s.inputArrived.notify_all();
}

void tspSimSetLines(const char* name, int32_t lines) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    if (SimPort* p = byName(s, text(name)))
        p->lines = lines;
}

int32_t tspSimOutputLines(const char* name) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    SimPort* p = byName(s, text(name));
    return p ? p->outputLines : 0;
}

int32_t tspSimTakeOutput(const char* name, uint8_t* buffer, int32_t max) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    SimPort* p = byName(s, text(name));
    if (!p || max <= 0)
        return 0;
    const int32_t n = std::min<int32_t>(max, static_cast<int32_t>(p->output.size()));
    std::memcpy(buffer, p->output.data(), static_cast<size_t>(n));
    p->output.erase(p->output.begin(), p->output.begin() + n);
    return n;
}

void tspSimUnplug(const char* name) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    if (SimPort* p = byName(s, text(name)))
        p->unplugged = true;
    s.inputArrived.notify_all();
}

int32_t tspSimIsOpen(const char* name) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    SimPort* p = byName(s, text(name));
    return p && p->open ? 1 : 0;
}

void tspSimForceResult(const char* entryPoint, int32_t value) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    s.forced[text(entryPoint)] = value;
}

void tspSimClearForcedResults(void) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    s.forced.clear();
}

void tspSimNotifyDevice(void) {
    TspDeviceNotification callback;
    void* context;
    {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.lock);
        callback = s.notification;
        context = s.notificationContext;
    }
    if (callback)
        callback(context);
}

const char* tspSimLog(void) {
    thread_local std::string joined;
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    joined.clear();
    for (const std::string& line : s.log) {
        joined += line;
        joined += '\n';
    }
    return joined.c_str();
}

void tspSimClearLog(void) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.lock);
    s.log.clear();
}

} // extern "C"
