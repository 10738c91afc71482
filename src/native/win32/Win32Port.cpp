#include "native/win32/Win32Port.h"

namespace tsp {

namespace {

const int32_t kRates[15] = {110,   150,   300,   600,    1200,   2400,   4800,  9600,
                            19200, 38400, 57600, 115200, 230400, 460800, 921600};

// The one place where system errors of opening become result codes.
int32_t openErrorCode(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return TSP_ERR_NO_FILE;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return TSP_ERR_IN_USE;
    case ERROR_BUSY:
        return TSP_ERR_BUSY;
    case ERROR_INVALID_NAME:
        return TSP_ERR_NOT_VALID;
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
        return TSP_ERR_NO_DEVICE;
    default:
        return TSP_ERR_FAILED;
    }
}

// The answers of a device that has no modem lines at all (a pseudo-terminal under Wine, virtual COM drivers)
// to the modem-line calls. Every other failure, such as the "not ready" of a pulled adapter, is a failure.
bool hasNoModemLines(DWORD error) {
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

} // namespace

Win32Port::Win32Port(std::string name, HANDLE handle) : Port(std::move(name)), m_handle(handle) {}

Win32Port::~Win32Port() {
    if (m_handle != INVALID_HANDLE_VALUE)
        close();
}

bool Win32Port::applyWriteTimeout(int32_t txMs) {
    if (txMs == m_appliedTx)
        return true;
    COMMTIMEOUTS t{};
    // Reads never wait in the driver: MAXDWORD interval with zero totals returns at once with what is there.
    // Waiting is done in short steps (readChunk), which a close can end and which notice a device that has
    // gone; drivers (and Wine, which can miss the byte that ends such a wait) differ in how they honour the
    // waiting forms of these time-outs.
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = 0;
    // Zero totals would mean "no timeout" for writes; one millisecond keeps a zero timeout from blocking.
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = txMs > 0 ? static_cast<DWORD>(txMs) : 1;
    if (!SetCommTimeouts(m_handle, &t))
        return false;
    m_appliedTx = txMs;
    return true;
}

int32_t Win32Port::configure(const TspPortConfig& config) {
    DWORD rate = 0;
    if (config.bitRate >= 0 && config.bitRate <= 14)
        rate = static_cast<DWORD>(kRates[config.bitRate]);
    else if (config.bitRate > 30)
        rate = static_cast<DWORD>(config.bitRate);
    else
        return TSP_ERR_UNSUPPORTED;
    if (config.dataBits < 0 || config.dataBits > 3 || config.stopBits < 0 || config.stopBits > 1 || config.parity < 0 ||
        config.parity > 4)
        return TSP_ERR_UNSUPPORTED;
    const int32_t hs = config.handshake;
    const bool split = (hs & 240) != 0;
    if (!split && (hs < 0 || hs > 3))
        return TSP_ERR_UNSUPPORTED;
    if (split && (hs & ~240) != 0)
        return TSP_ERR_UNSUPPORTED;

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(m_handle, &dcb))
        return TSP_ERR_FAILED;
    static const BYTE parities[5] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
    dcb.BaudRate = rate;
    dcb.ByteSize = static_cast<BYTE>(5 + config.dataBits);
    dcb.Parity = parities[config.parity];
    // With five data bits a UART sends one and a half stop bits where two are asked for; Windows refuses
    // "two" for five bits.
    dcb.StopBits = config.stopBits == 1 ? (config.dataBits == 0 ? ONE5STOPBITS : TWOSTOPBITS) : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = config.parity != 0;
    dcb.fNull = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (split) {
        if (hs & 16)
            dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
        if (hs & 32)
            dcb.fOutxCtsFlow = TRUE;
        if (hs & 64)
            dcb.fInX = TRUE;
        if (hs & 128)
            dcb.fOutX = TRUE;
    } else if (hs == 1) {
        dcb.fOutX = TRUE;
        dcb.fInX = TRUE;
    } else if (hs == 2) {
        dcb.fOutxCtsFlow = TRUE;
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    } else if (hs == 3) {
        dcb.fOutxDsrFlow = TRUE;
        dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    }
    if (dcb.fOutX || dcb.fInX) {
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
        dcb.XonLim = 2048;
        dcb.XoffLim = 512;
    }
    if (!SetCommState(m_handle, &dcb))
        return GetLastError() == ERROR_INVALID_PARAMETER ? TSP_ERR_UNSUPPORTED : TSP_ERR_FAILED;
    if (config.rxLen > 0 && config.txLen > 0)
        SetupComm(m_handle, static_cast<DWORD>(config.rxLen), static_cast<DWORD>(config.txLen));
    return TSP_OK;
}

int32_t Win32Port::readChunk(uint8_t* buffer, int32_t max, int32_t timeoutMs) {
    if (!applyWriteTimeout(m_timeoutTx))
        return -1;
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        if (m_interrupted.load())
            return -1;
        DWORD got = 0;
        if (!ReadFile(m_handle, buffer, static_cast<DWORD>(max), &got, nullptr))
            return -1;
        if (got > 0)
            return static_cast<int32_t>(got);
        // A pulled USB adapter (and a hung-up line under Wine) can keep answering reads with nothing; its
        // status query fails.
        if (!deviceAnswers())
            return -1;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return 0;
        Sleep(static_cast<DWORD>(deadline - now < kReadStepMs ? deadline - now : kReadStepMs));
    }
}

int32_t Win32Port::write(const uint8_t* buffer, int32_t count, int32_t timeoutMs) {
    if (!applyWriteTimeout(timeoutMs))
        return 0;
    DWORD sent = 0;
    WriteFile(m_handle, buffer, static_cast<DWORD>(count), &sent, nullptr);
    return static_cast<int32_t>(sent);
}

bool Win32Port::deviceAnswers() {
    std::lock_guard<std::mutex> lock(m_errorLock);
    COMSTAT status{};
    return collectErrors(&status);
}

bool Win32Port::collectErrors(COMSTAT* status) {
    DWORD errors = 0;
    if (!ClearCommError(m_handle, &errors, status))
        return false;
    m_latched |= errors;
    return true;
}

int32_t Win32Port::pendingInput() {
    std::lock_guard<std::mutex> lock(m_errorLock);
    COMSTAT status{};
    return collectErrors(&status) ? static_cast<int32_t>(status.cbInQue) : -1;
}

int32_t Win32Port::pendingOutput() {
    std::lock_guard<std::mutex> lock(m_errorLock);
    COMSTAT status{};
    return collectErrors(&status) ? static_cast<int32_t>(status.cbOutQue) : -1;
}

bool Win32Port::flushInput() {
    return PurgeComm(m_handle, PURGE_RXCLEAR) != 0;
}
bool Win32Port::flushOutput() {
    return PurgeComm(m_handle, PURGE_TXCLEAR) != 0;
}
bool Win32Port::drain() {
    return FlushFileBuffers(m_handle) != 0;
}
bool Win32Port::setDtr(bool on) {
    return EscapeCommFunction(m_handle, on ? SETDTR : CLRDTR) != 0 || hasNoModemLines(GetLastError());
}
bool Win32Port::setRts(bool on) {
    return EscapeCommFunction(m_handle, on ? SETRTS : CLRRTS) != 0 || hasNoModemLines(GetLastError());
}

int32_t Win32Port::line(Line which) {
    DWORD status = 0;
    if (!GetCommModemStatus(m_handle, &status))
        return hasNoModemLines(GetLastError()) ? 0 : -1;
    switch (which) {
    case Cts:
        return (status & MS_CTS_ON) ? 1 : 0;
    case Dsr:
        return (status & MS_DSR_ON) ? 1 : 0;
    case Cd:
        return (status & MS_RLSD_ON) ? 1 : 0;
    case Ring:
        return (status & MS_RING_ON) ? 1 : 0;
    }
    return 0;
}

int32_t Win32Port::takeCondition(Condition which) {
    static const DWORD bits[5] = {CE_BREAK, CE_FRAME, CE_OVERRUN, CE_RXPARITY, CE_RXOVER};
    std::lock_guard<std::mutex> lock(m_errorLock);
    COMSTAT status{};
    if (!collectErrors(&status))
        return -1;
    const bool seen = (m_latched & bits[which]) != 0;
    m_latched &= ~bits[which];
    return seen ? 1 : 0;
}

bool Win32Port::sendBreak(int32_t milliseconds) {
    if (!SetCommBreak(m_handle))
        return false;
    Sleep(milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 250);
    return ClearCommBreak(m_handle) != 0;
}

void Win32Port::interrupt() {
    // A read waiting for its timeout ends within one step; a write waiting in the driver is cancelled. The
    // closing port reports them as failed.
    m_interrupted.store(true);
    CancelIoEx(m_handle, nullptr);
}

int32_t Win32Port::close() {
    if (m_handle == INVALID_HANDLE_VALUE)
        return TSP_ERR_NOT_OPEN;
    const HANDLE h = m_handle;
    m_handle = INVALID_HANDLE_VALUE;
    return CloseHandle(h) ? TSP_OK : TSP_ERR_FAILED;
}

std::unique_ptr<Port> openDevice(const std::string& name, int32_t& error) {
    // COM10 and above are reachable only through the device namespace; the prefix works for COM1 to COM9 too.
    const std::string path = name.rfind("\\\\.\\", 0) == 0 ? name : "\\\\.\\" + name;
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = openErrorCode(GetLastError());
        return nullptr;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) {
        CloseHandle(h);
        error = TSP_ERR_NOT_VALID;
        return nullptr;
    }
    auto port = std::make_unique<Win32Port>(name, h);
    error = TSP_OK;
    return port;
}

} // namespace tsp
