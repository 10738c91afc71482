#include "serial/SerialPortLocal.h"

#include "base/SystemProperties.h"
#include "serial/NativeHandleMutex.h"
#include "serial/NativeLibrary.h"
#include "serial/NativeLibraryError.h"
#include "serial/SerialArgumentError.h"
#include "serial/SerialIoError.h"

#include <QMutexLocker>
#include <QRegularExpression>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>

namespace serial {

namespace {

using tavlo::base::SystemProperties;

const QString kBanner1 = QStringLiteral("Tavlo serial layer: version 10.2.3: build ") + QString::number(9233);
const QString kBanner2 = QStringLiteral("Serial port layer of Tavlo, over the tspWin native serial library.");

// The process-wide state of the layer.
struct Shared {
    QMutex lock{};
    std::atomic<bool> setUp{false};
    QString osName;
    QString osArch;
    QString vendor;
    QString runtimeVer;
    QString devName;
    QString tspLib;
    bool tspLibLoaded = false;
    bool osFamilyWindows = false;
    QString libraryFailure;
    std::unique_ptr<NativeLibrary> library;
    SerialFeatures features;
    int32_t portListMode = 0;
    DeviceNotificationCallback* callDeviceNotification = nullptr;

    // The port lists have their own lock: the native listing appends to them through callbacks.
    QMutex listLock{};
    QStringList portList;
    QList<PortDriverInfo> portListInfo;
    std::optional<PortDriverInfo> portInfo;
    QStringList comPortNums;
    QList<int32_t> portNumList;
};

Shared& shared() {
    static Shared s;
    return s;
}

void diagnostic(const QString& line) {
    const QByteArray bytes = line.toLocal8Bit();
    std::fprintf(stderr, "%s\n", bytes.constData());
    std::fflush(stderr);
}

QString property(const char* name) {
    return SystemProperties::get(QLatin1String(name), QString());
}

// Leading and trailing characters up to and including the blank removed.
QString trimmedControls(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= u' ')
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= u' ')
        --end;
    return text.mid(begin, end - begin);
}

void loadLibrary(Shared& s, const QString& baseName) {
    const std::optional<QString> path = SystemProperties::get(QStringLiteral("TSP_LIBRARY_PATH"));
    s.library = path && !path->isEmpty() ? NativeLibrary::loadFile(*path) : NativeLibrary::loadByName(baseName);
    s.tspLibLoaded = true;
    s.libraryFailure.clear();
}

void featureSetupLocked(Shared& s) {
    (void)NativeHandleMutex::getInstance();
    s.features = SerialFeatures::forSystem(s.osName, s.osArch);
    s.devName = s.features.devName;
}

void setNativeLibNameLocked(Shared& s) {
    const std::optional<QString> name = SystemProperties::get(QStringLiteral("TSP_OSNAME"));
    const std::optional<QString> arch = SystemProperties::get(QStringLiteral("TSP_OSARCH"));
    if (name && arch) {
        s.osName = *name;
        s.osArch = *arch;
    }
    s.tspLib = nativeLibraryName(s.osName, s.osArch, s.runtimeVer, &s.osFamilyWindows);
}

// Runs the set-up once per process (or once after resetForTesting).
Shared& ready() {
    Shared& s = shared();
    if (s.setUp.load(std::memory_order_acquire))
        return s;
    QMutexLocker locker(&s.lock);
    if (s.setUp.load(std::memory_order_relaxed))
        return s;
    s.osName = SystemProperties::get(QStringLiteral("TSP_OSNAME"), property("os.name"));
    s.runtimeVer = SystemProperties::get(QStringLiteral("runtime.version"), QString::fromLatin1(qVersion()));
    s.vendor = SystemProperties::get(QStringLiteral("runtime.vendor"), QStringLiteral("The Qt Company"));
    s.osArch = property("os.arch");
    diagnostic(kBanner1 + QStringLiteral("\r\n") + kBanner2);
    diagnostic(QStringLiteral("os.name=\"") + s.osName + QStringLiteral("\"  os.arch=\"") + s.osArch +
               QStringLiteral("\""));
    featureSetupLocked(s);
    setNativeLibNameLocked(s);
    if (s.tspLib.isEmpty()) {
        diagnostic(QStringLiteral("osName=") + s.osName + QStringLiteral(" osArch=") + s.osArch);
        diagnostic(QStringLiteral("This platform is not supported by the serial layer; check the properties "
                                  "os.name and os.arch."));
        locker.unlock();
        std::exit(-1);
    }
    try {
        loadLibrary(s, s.tspLib);
        diagnostic(QStringLiteral("SerialPort class loaded: ") + s.tspLib);
    } catch (const NativeLibraryError& first) {
        bool loaded = false;
        QString failure = first.message();
        if (s.osName == QLatin1String("Windows 7")) {
            diagnostic(first.message() + QStringLiteral(": Native library load failed ") + s.tspLib +
                       QStringLiteral(" trying user's folder"));
            try {
                s.library = NativeLibrary::loadFromUserFolder(s.tspLib, property("user.home"));
                s.tspLibLoaded = loaded = true;
                diagnostic(QStringLiteral("SerialPort class loaded users: ") + s.tspLib);
            } catch (const NativeLibraryError& second) {
                failure = second.message();
            }
        }
        if (!loaded) {
            diagnostic(failure + QStringLiteral(": Check that native library ") + s.tspLib +
                       QStringLiteral(" is in proper directory"));
            s.libraryFailure = failure;
        }
    }
    s.setUp.store(true, std::memory_order_release);
    return s;
}

const SerialFeatures& features() {
    return ready().features;
}

TspPortConfig nativeRecord(const SerialConfig& c) {
    TspPortConfig n{};
    n.port = c.getPort();
    n.portName = c.getPortName().constData();
    n.baseName = c.getBaseName().constData();
    n.txLen = c.getTxLen();
    n.rxLen = c.getRxLen();
    n.bitRate = c.getBitRate();
    n.parity = c.getParity();
    n.dataBits = c.getDataBits();
    n.stopBits = c.getStopBits();
    n.handshake = c.getHandshake();
    n.hardFlow = c.getHardFlow() ? 1 : 0;
    n.disableActiveLink = c.getDisableActiveLink() ? 1 : 0;
    return n;
}

QString openFailureText(int32_t code) {
    switch (code) {
    case 1000:
        return QStringLiteral("Port is already open");
    case 1002:
        return QStringLiteral("Port is in use");
    case 1003:
        return QStringLiteral("Port not valid");
    case 1004:
        return QStringLiteral("2: No such device");
    case 1006:
        return QStringLiteral("Permission denied");
    case 1007:
        return QStringLiteral("Device busy");
    case 1008:
        return QStringLiteral("19: No such device");
    default:
        return QStringLiteral(": ") + QString::number(code);
    }
}

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void hostAddPortName(void*, const char* name) {
    SerialPortLocal::addPortName(QString::fromLocal8Bit(name));
}

void hostAddPortInfo(void*, const char* name, const char* maker, const char* description) {
    SerialPortLocal::addPortInfo(QString::fromLocal8Bit(name), QString::fromLocal8Bit(maker ? maker : ""),
                                 QString::fromLocal8Bit(description ? description : ""));
}

void hostDeviceNotification(void*) {
    SerialPortLocal::deviceNotification();
}

// The Windows listing: COM names by number, then every name that does not begin with COM, as listed.
QStringList sortedComList(Shared& s) {
    QMutexLocker locker(&s.listLock);
    s.comPortNums = s.portList;
    locker.unlock();
    static const QRegularExpression comPattern(QStringLiteral("COM[0-9]+"));
    QList<int32_t> numbers;
    for (const QString& name : std::as_const(s.comPortNums)) {
        const QRegularExpressionMatch m = comPattern.match(name);
        if (!m.hasMatch())
            continue;
        bool ok = false;
        const int32_t number = m.captured(0).mid(3).toInt(&ok);
        if (ok)
            numbers.append(number);
    }
    std::sort(numbers.begin(), numbers.end());
    QStringList result;
    for (int32_t number : std::as_const(numbers))
        result.append(QStringLiteral("COM") + QString::number(number));
    for (const QString& name : std::as_const(s.comPortNums)) {
        if (!name.startsWith(QLatin1String("COM")))
            result.append(name);
    }
    locker.relock();
    s.portNumList = numbers;
    return result;
}

} // namespace

// Process-wide side.

const NativeLibrary& SerialPortLocal::lib() {
    Shared& s = ready();
    if (!s.library) {
        QMutexLocker locker(&s.lock);
        throw NativeLibraryError(s.libraryFailure.isEmpty()
                                     ? QStringLiteral("Native library ") + s.tspLib + QStringLiteral(" not loaded")
                                     : s.libraryFailure);
    }
    return *s.library;
}

bool SerialPortLocal::isLibraryLoaded() {
    Shared& s = ready();
    QMutexLocker locker(&s.lock);
    return s.tspLibLoaded;
}

QString SerialPortLocal::getLibraryFailure() {
    Shared& s = ready();
    QMutexLocker locker(&s.lock);
    return s.libraryFailure;
}

void SerialPortLocal::setNativeLibName() {
    Shared& s = ready();
    QMutexLocker locker(&s.lock);
    setNativeLibNameLocked(s);
}

void SerialPortLocal::featureSetup() {
    Shared& s = ready();
    QMutexLocker locker(&s.lock);
    featureSetupLocked(s);
}

QString SerialPortLocal::getOsName() {
    Shared& s = ready();
    QMutexLocker locker(&s.lock);
    return s.osName;
}

QString SerialPortLocal::getOsArch() {
    Shared& s = ready();
    QMutexLocker locker(&s.lock);
    return s.osArch;
}

QString SerialPortLocal::getNativeLibName() {
    Shared& s = ready();
    QMutexLocker locker(&s.lock);
    return s.tspLib;
}

QString SerialPortLocal::getDevName() {
    Shared& s = ready();
    QMutexLocker locker(&s.lock);
    return s.devName;
}

SerialFeatures SerialPortLocal::getFeatures() {
    return features();
}
int32_t SerialPortLocal::getMaxBitRate() {
    return features().maxBitRate;
}

QStringList SerialPortLocal::getPortList() {
    Shared& s = ready();
    const std::optional<QString> listed = SystemProperties::get(QStringLiteral("SERIAL_PORT_LIST"));
    if (listed && trimmedControls(*listed).size() > 4) {
        static const QRegularExpression separators(QStringLiteral("[;:]"));
        for (const QString& piece : listed->split(separators, Qt::SkipEmptyParts))
            addPortName(piece);
    } else if (s.features.supGetPortList) {
        {
            QMutexLocker locker(&s.listLock);
            s.portList.clear();
        }
        const TspHost host{nullptr, &hostAddPortName, &hostAddPortInfo};
        lib().SerGetPortList(&host);
        if (s.osFamilyWindows)
            return sortedComList(s);
    } else {
        QMutexLocker locker(&s.listLock);
        if (!s.portList.isEmpty()) {
            diagnostic(QStringLiteral("getPortList: using list created with addPortName"));
        } else {
            diagnostic(QStringLiteral("getPortList: port discovery not currently supported on this platform."));
            diagnostic(QStringLiteral("Options:"));
            diagnostic(QStringLiteral("A) addPortName can be used to build a list of device names "));
            diagnostic(QStringLiteral("B) set the property SERIAL_PORT_LIST on the command line, e.g. "
                                      "\"-DSERIAL_PORT_LIST=COM1;COM2;COM3\""));
            diagnostic(QStringLiteral("   or \"-DSERIAL_PORT_LIST=/dev/ttyS0:/dev/ttyS1\""));
        }
    }
    QMutexLocker locker(&s.listLock);
    return s.portList;
}

void SerialPortLocal::addPortName(const QString& name) {
    Shared& s = ready();
    QMutexLocker locker(&s.listLock);
    if (!s.portList.contains(name, Qt::CaseInsensitive))
        s.portList.append(name);
}

void SerialPortLocal::addPortInfo(const QString& name, const QString& maker, const QString& description) {
    Shared& s = ready();
    QMutexLocker locker(&s.listLock);
    for (const PortDriverInfo& info : std::as_const(s.portListInfo)) {
        if (info.getPortName().compare(name, Qt::CaseInsensitive) == 0)
            return;
    }
    s.portListInfo.append(PortDriverInfo(name, maker, description));
    s.portInfo = s.portListInfo.last();
}

void SerialPortLocal::clearPortListInfo() {
    Shared& s = ready();
    QMutexLocker locker(&s.listLock);
    s.portListInfo.clear();
}

QList<PortDriverInfo> SerialPortLocal::getDriverInfoList() {
    Shared& s = ready();
    if (!s.features.supDriverInfo)
        throw SerialIoError(QStringLiteral("Not supported on this platform"));
    QMutexLocker locker(&s.listLock);
    if (s.portList.isEmpty())
        throw SerialIoError(QStringLiteral("Must call SerialPortLocal.getPortList method first"));
    return s.portListInfo;
}

int32_t SerialPortLocal::getPortListMode() {
    Shared& s = ready();
    QMutexLocker locker(&s.lock);
    return s.portListMode;
}

void SerialPortLocal::setPortListMode(int32_t mode) {
    Shared& s = ready();
    QMutexLocker locker(&s.lock);
    s.portListMode = mode;
}

int32_t SerialPortLocal::getInstanceLock() {
    return features().supInstanceLock ? lib().SerGetInstanceLock() : -1;
}

int32_t SerialPortLocal::setInstanceLock(int32_t value) {
    return features().supInstanceLock ? lib().SerSetInstanceLock(value) : -1;
}

int32_t SerialPortLocal::getStatusAPM() {
    return features().supGetStatusAPM ? lib().SerGetStatusAPM() : -1;
}

int32_t SerialPortLocal::getResumeState(int32_t flag) {
    return features().supGetResumeState ? lib().SerGetResumeState(flag) : -1;
}

int32_t SerialPortLocal::getPowerMode(int32_t which) {
    if (!features().supSetPowerMode)
        return -1;
    const NativeLibrary& l = lib();
    int32_t r;
    {
        QMutexLocker locker(&NativeHandleMutex::getInstance().mutex());
        r = l.SerGetPowerMode(which);
    }
    if (r >= 5000)
        throw SerialIoError(QStringLiteral("getPowerMode failed: ") + QString::number(r));
    return r;
}

void SerialPortLocal::setPowerMode(int32_t which, int32_t mode) {
    if (!features().supSetPowerMode)
        return;
    const NativeLibrary& l = lib();
    int32_t r;
    {
        QMutexLocker locker(&NativeHandleMutex::getInstance().mutex());
        r = l.SerSetPowerMode(which, mode);
    }
    if (r != 0)
        throw SerialIoError(QStringLiteral("setPowerMode failed: ") + QString::number(r));
}

void SerialPortLocal::registerDeviceNotification(DeviceNotificationCallback* callback) {
    Shared& s = ready();
    const NativeLibrary& l = lib();
    bool registered;
    {
        QMutexLocker locker(&s.lock);
        registered = s.callDeviceNotification != nullptr;
        s.callDeviceNotification = callback;
    }
    if (registered)
        l.SerUnregisterDeviceNotification(&hostDeviceNotification, nullptr);
    l.SerRegisterDeviceNotification(&hostDeviceNotification, nullptr);
}

void SerialPortLocal::unregisterDeviceNotification() {
    lib().SerUnregisterDeviceNotification(&hostDeviceNotification, nullptr);
}

void SerialPortLocal::deviceNotification() {
    diagnostic(QStringLiteral("SerialLayer.deviceNotification"));
    Shared& s = ready();
    DeviceNotificationCallback* callback;
    {
        QMutexLocker locker(&s.lock);
        callback = s.callDeviceNotification;
    }
    if (callback)
        callback->deviceNotification();
}

void SerialPortLocal::resetForTesting() {
    Shared& s = shared();
    QMutexLocker locker(&s.lock);
    QMutexLocker lists(&s.listLock);
    s.setUp.store(false);
    s.osName = s.osArch = s.vendor = s.runtimeVer = s.devName = s.tspLib = s.libraryFailure = QString();
    s.tspLibLoaded = s.osFamilyWindows = false;
    // The library itself stays mapped (ports of the finished test may still refer to it); only our view goes.
    s.library.reset();
    s.features = SerialFeatures();
    s.portListMode = 0;
    s.callDeviceNotification = nullptr;
    s.portList.clear();
    s.portListInfo.clear();
    s.portInfo.reset();
    s.comPortNums.clear();
    s.portNumList.clear();
}

// Port object.

SerialPortLocal::SerialPortLocal() {
    Shared& s = ready();
    QMutexLocker locker(&s.lock);
    if (!s.tspLibLoaded) {
        if (s.tspLib.isEmpty())
            setNativeLibNameLocked(s);
        diagnostic(QStringLiteral("SerialPortLocal: Attempt to load: ") + s.tspLib);
        if (s.osName == QLatin1String("Windows 7")) {
            s.library = NativeLibrary::loadFromUserFolder(s.tspLib, property("user.home"));
            s.tspLibLoaded = true;
            s.libraryFailure.clear();
        } else {
            loadLibrary(s, s.tspLib);
        }
        diagnostic(QStringLiteral("SerialPortLocal: SerialPort class loaded: ") + s.tspLib);
    }
    s.osName = property("os.name");
    m_config = SerialConfig(s.devName);
}

SerialPortLocal::SerialPortLocal(const SerialConfig& config) {
    Shared& s = ready();
    {
        QMutexLocker locker(&s.lock);
        s.osName = SystemProperties::get(QStringLiteral("TSP_OSNAME"), property("os.name"));
    }
    m_config = config;
    try {
        open();
    } catch (...) {
        // A constructor that throws leaves no object to close the port with: a port opened natively before
        // configure failed would stay locked until the process ends.
        try {
            close();
        } catch (...) {
        }
        throw;
    }
}

SerialPortLocal::~SerialPortLocal() {
    try {
        close();
    } catch (...) {
        // Destruction must not throw; a failing close has nothing left to report to.
    }
}

void SerialPortLocal::openNative(const char* failurePrefix) {
    const NativeLibrary& l = lib();
    TspPortConfig record = nativeRecord(m_config);
    int32_t r;
    {
        QMutexLocker locker(&NativeHandleMutex::getInstance().mutex());
        r = l.SerOpenPort(&record);
    }
    const QString os = getOsName();
    if (r != 0 && failurePrefix && (os == QLatin1String("Solaris") || os == QLatin1String("SunOS"))) {
        // Solaris reports a port that was just closed as busy for a moment.
        const int64_t deadline = nowMs() + 3000;
        while (r == 16 && nowMs() < deadline) {
            QThread::msleep(500);
            QMutexLocker locker(&NativeHandleMutex::getInstance().mutex());
            record = nativeRecord(m_config);
            r = l.SerOpenPort(&record);
        }
    }
    if (r != 0) {
        if (failurePrefix)
            throw SerialIoError(QLatin1String(failurePrefix) + QString::number(r));
        throw SerialIoError(m_config.getPortNameString() + QStringLiteral(": SerOpenPort failed: ") +
                            openFailureText(r));
    }
    m_config.storePortNumber(record.port);
}

void SerialPortLocal::open() {
    if (getOsName() != QLatin1String("Windows 95"))
        m_config.setHardFlow(false);
    openNative(nullptr);
    m_isOpen = true;
    m_wrSinceTxBufEmpty = false;
    m_rdSinceRxBufCheck = false;
    m_port = m_config.getPort() - 1;
    configure(m_config);
    if (getOsName() == QLatin1String("Mac OS")) {
        setTimeoutRx(2000);
        setTimeoutTx(2000);
        return;
    }
    setTimeoutRx(0);
    if (features().supSetTimeoutTx) {
        // Long enough to send the whole transmit buffer ten times over at the configured rate.
        const int64_t rate = m_config.getBitRateNumber(m_config.getBitRate());
        if (rate / 10 == 0)
            throw SerialArgumentError(QStringLiteral("Invalid Serial Port Bit Rate"));
        const int64_t timeout = (static_cast<int64_t>(m_config.getTxLen()) * (1000000 / (rate / 10))) / 1000 * 100;
        setTimeoutTx(static_cast<int32_t>(std::clamp<int64_t>(timeout, 0, std::numeric_limits<int32_t>::max())));
    }
}

void SerialPortLocal::close() {
    m_wrSinceTxBufEmpty = false;
    m_rdSinceRxBufCheck = false;
    if (!m_isOpen.exchange(false))
        return;
    const NativeLibrary& l = lib();
    int32_t r;
    {
        QMutexLocker locker(&NativeHandleMutex::getInstance().mutex());
        r = l.SerClosePort(m_port);
    }
    m_port = -1;
    if (r != 0)
        throw SerialIoError(QStringLiteral("ClosePort failed"));
}

void SerialPortLocal::configure() {
    configure(m_config);
}

void SerialPortLocal::configure(SerialConfig& config) {
    if (m_port < 0)
        throw SerialIoError(QStringLiteral("configure: Port is not open"));
    const SerialFeatures& f = features();
    if (!f.supNoIndexBitRate) {
        // This library takes bit rates as table indexes only.
        const int32_t index = SerialConfig::getBitRateIndex(config.getBitRate());
        if (index >= 0)
            config.setBitRate(index);
        else if (!config.validBitRateIndex())
            throw SerialIoError(QStringLiteral("Unsupported Serial Port Bit Rate"));
    }
    if (!f.supParityMarkSpace && config.getParity() > SerialConfig::PY_EVEN)
        throw SerialIoError(QStringLiteral("Unsupported Mark/Space parity"));
    const NativeLibrary& l = lib();
    const TspPortConfig record = nativeRecord(config);
    int32_t r;
    {
        QMutexLocker locker(&NativeHandleMutex::getInstance().mutex());
        r = l.SerConfigure(m_port, &record);
    }
    if (r != 0)
        throw SerialIoError(QStringLiteral("Configure failed: ") + QString::number(r));
}

void SerialPortLocal::reset() {
    if (m_port < 0)
        throw SerialIoError(QStringLiteral("reset: Port is not open"));
    const bool txTimeouts = features().supSetTimeoutTx;
    const int32_t timeoutTx = txTimeouts ? lib().SerGetTimeoutTx(m_port) : 0;
    close();
    openNative("reset: SerOpenPort failed: ");
    m_isOpen = true;
    m_port = m_config.getPort() - 1;
    if (txTimeouts)
        setTimeoutTx(timeoutTx);
    configure(m_config);
}

void SerialPortLocal::resetPortDriver(const QString& driver) {
    if (!features().supDriverInfo)
        unsupported("resetPortDriver not supported on ");
    if (m_isOpen)
        throw SerialIoError(QStringLiteral("resetPortDriver: Port must be closed"));
    const NativeLibrary& l = lib();
    const QByteArray bytes = driver.toLocal8Bit();
    int32_t r;
    {
        QMutexLocker locker(&NativeHandleMutex::getInstance().mutex());
        r = l.SerResetPortDriver(bytes.constData());
    }
    if (r != 0)
        throw SerialIoError(QStringLiteral("Reset port driver failed: ") + QString::number(r));
}

void SerialPortLocal::setConfig(const SerialConfig& config) {
    SerialConfig kept = config;
    if (!m_isOpen)
        kept.setPortNum(m_port + 1);
    m_config = kept;
    Shared& s = ready();
    QMutexLocker locker(&s.lock);
    s.devName = config.getPortNameString();
}

QString SerialPortLocal::getPortName() const {
    return QString::fromLocal8Bit(m_config.getPortName().constData());
}

void SerialPortLocal::setPortName(const QString& name) {
    m_config.setPortName(name);
    Shared& s = ready();
    QMutexLocker locker(&s.lock);
    s.devName = name;
}

QString SerialPortLocal::getName(int32_t which) {
    const QString os = getOsName();
    if (os == QLatin1String("Mac OS") || os == QLatin1String("Mac OS X"))
        return QString::fromLocal8Bit(lib().SerGetName(which));
    return QStringLiteral("Not implemented");
}

QString SerialPortLocal::getLibVer() {
    return QString::fromLocal8Bit(lib().SerGetLibVer());
}

bool SerialPortLocal::isSupported(const QString& feature) const {
    return features().byName(feature);
}

void SerialPortLocal::unsupported(const char* text) const {
    throw SerialIoError(QLatin1String(text) + getOsName());
}

void SerialPortLocal::requireOpen(const char* text) const {
    if (m_port < 0)
        throw SerialIoError(QLatin1String(text));
}

bool SerialPortLocal::booleanResult(int32_t result, const char* failure) const {
    if (result == -1 && failure)
        throw SerialIoError(QLatin1String(failure));
    return result == 1;
}

// Data in.

int32_t SerialPortLocal::getByte() {
    const SerialFeatures& f = features();
    const NativeLibrary& l = lib();
    const int32_t port = m_port;
    if (f.hostGetDataTimeout && l.SerGetTimeoutRx(port) > 0) {
        // The library cannot wait here, so wait for a byte to be ready; a failing count (a port that has gone)
        // goes on to the read, which reports it.
        const int64_t deadline = nowMs() + l.SerGetTimeoutRx(port);
        for (;;) {
            const int32_t readyCount = l.SerRxReadyCount(port);
            if (readyCount >= 1 || readyCount < 0)
                break;
            const int64_t now = nowMs();
            std::this_thread::yield();
            if (now >= deadline)
                return -1;
        }
    }
    m_rdSinceRxBufCheck = true;
    const int32_t r = l.SerGetByte(port);
    // A vanished device must not read as an idle line forever.
    if (r == TSP_READ_FAILED)
        throw SerialIoError(QStringLiteral("getByte failed"));
    return r;
}

int32_t SerialPortLocal::getData(QByteArray& buffer) {
    const int32_t n = getData(buffer, 0, static_cast<int32_t>(buffer.size()));
    m_rdSinceRxBufCheck = true;
    return n;
}

int32_t SerialPortLocal::getData(QByteArray& buffer, int32_t offset, int32_t count) {
    const int64_t size = buffer.size();
    if (offset < 0 || count < 0 || static_cast<int64_t>(offset) + count > size)
        throw std::out_of_range("getData: offset " + std::to_string(offset) + " and count " + std::to_string(count) +
                                " outside a buffer of " + std::to_string(size) + " bytes");
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(count, size));
    const SerialFeatures& f = features();
    const NativeLibrary& l = lib();
    const int32_t port = m_port;
    if (f.hostGetDataTimeout && l.SerGetTimeoutRx(port) > 0) {
        const int64_t deadline = nowMs() + l.SerGetTimeoutRx(port);
        for (;;) {
            const int32_t readyCount = l.SerRxReadyCount(port);
            if (readyCount >= n || readyCount < 0)
                break;
            const int64_t now = nowMs();
            std::this_thread::yield();
            if (now >= deadline)
                return 0;
        }
    }
    m_rdSinceRxBufCheck = true;
    int32_t r;
    if (offset == 0) {
        r = l.SerGetData(port, reinterpret_cast<uint8_t*>(buffer.data()), n);
    } else {
        QByteArray fresh(n, '\0');
        r = l.SerGetData(port, reinterpret_cast<uint8_t*>(fresh.data()), n);
        if (r > 0)
            std::memcpy(buffer.data() + offset, fresh.constData(), static_cast<size_t>(r));
    }
    if (r < 0)
        throw SerialIoError(QStringLiteral("getData: failed"));
    return r;
}

// Data out.

void SerialPortLocal::putByte(uint8_t byte) {
    const NativeLibrary& l = lib();
    m_wrSinceTxBufEmpty = true;
    const int32_t r = l.SerPutByte(m_port, byte);
    if (r != 0)
        throw SerialIoError(QStringLiteral("PutByte failed: ") + QString::number(r));
}

void SerialPortLocal::putData(const QByteArray& buffer) {
    if (buffer.isEmpty())
        return;
    const NativeLibrary& l = lib();
    const int32_t length = static_cast<int32_t>(buffer.size());
    m_wrSinceTxBufEmpty = true;
    const int32_t sent = l.SerPutData(m_port, reinterpret_cast<const uint8_t*>(buffer.constData()), length);
    if (sent != length)
        throw SerialIoError(QStringLiteral("PutData1: Sent only %1 of %2 bytes").arg(sent).arg(length));
}

void SerialPortLocal::putData(const QByteArray& buffer, int32_t count) {
    if (count < 0 || count > buffer.size())
        throw SerialIoError(QStringLiteral("putData: count out of bounds"));
    const NativeLibrary& l = lib();
    m_wrSinceTxBufEmpty = true;
    const int32_t sent = l.SerPutData(m_port, reinterpret_cast<const uint8_t*>(buffer.constData()), count);
    if (sent != count)
        throw SerialIoError(QStringLiteral("PutData2: Sent only %1 of %2 bytes").arg(sent).arg(count));
}

void SerialPortLocal::putData(const QByteArray& buffer, int32_t offset, int32_t count) {
    if (offset < 0 || count < 0 || static_cast<int64_t>(offset) + count > buffer.size())
        throw SerialIoError(QStringLiteral("putData3: count out of bounds"));
    const NativeLibrary& l = lib();
    const QByteArray part = buffer.mid(offset, count);
    m_wrSinceTxBufEmpty = true;
    const int32_t sent = l.SerPutData(m_port, reinterpret_cast<const uint8_t*>(part.constData()), count);
    if (sent != count)
        throw SerialIoError(QStringLiteral("putData3: Sent only %1 of %2 bytes").arg(sent).arg(count));
}

void SerialPortLocal::putString(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    if (bytes.isEmpty())
        return;
    const NativeLibrary& l = lib();
    const int32_t length = static_cast<int32_t>(bytes.size());
    m_wrSinceTxBufEmpty = true;
    const int32_t sent = l.SerPutData(m_port, reinterpret_cast<const uint8_t*>(bytes.constData()), length);
    if (sent != length)
        throw SerialIoError(QStringLiteral("PutString: sent only %1 of %2 bytes").arg(sent).arg(length));
}

// Line signals, status and buffers: feature first, then the open check, then the native call.

void SerialPortLocal::setDTR(bool on) {
    if (!features().supSetDTR)
        unsupported("setDTR not supported on ");
    requireOpen("setDTR: Port not open");
    if (lib().SerSetDTR(m_port, on ? 1 : 0) == -1)
        throw SerialIoError(QStringLiteral("setDTR failed"));
}

void SerialPortLocal::setRTS(bool on) {
    if (!features().supSetRTS)
        unsupported("setRts not supported on ");
    requireOpen("setRTS: Port not open");
    if (lib().SerSetRTS(m_port, on ? 1 : 0) == -1)
        throw SerialIoError(QStringLiteral("setRTS failed"));
}

bool SerialPortLocal::sigCTS() {
    requireOpen("sigCTS: Port not open");
    return booleanResult(lib().SerSigCTS(m_port), "sigCTS failed");
}

bool SerialPortLocal::sigDSR() {
    requireOpen("sigDSR: Port not open");
    return booleanResult(lib().SerSigDSR(m_port), "sigDSR failed");
}

bool SerialPortLocal::sigCD() {
    if (!features().supSigCD)
        unsupported("sigCD not supported on ");
    requireOpen("sigCD: Port not open");
    return booleanResult(lib().SerSigCD(m_port), "sigCD failed");
}

bool SerialPortLocal::sigRing() {
    if (!features().supSigRing)
        unsupported("sigRing not supported on ");
    requireOpen("sigRing: Port not open");
    return booleanResult(lib().SerSigRing(m_port), nullptr);
}

bool SerialPortLocal::sigBreak() {
    if (!features().supSigBreak)
        unsupported("sigBreak not supported on ");
    requireOpen("sigBreak: Port not open");
    return booleanResult(lib().SerSigBreak(m_port), nullptr);
}

bool SerialPortLocal::sigFrameErr() {
    if (!features().supSigFrameErr)
        unsupported("sigFrameErr not supported on ");
    requireOpen("sigFrameErr: Port not open");
    return booleanResult(lib().SerSigFrameErr(m_port), "sigFrameErr failed");
}

bool SerialPortLocal::sigOverrun() {
    if (!features().supSigOverrun)
        unsupported("sigOverrun not supported on ");
    requireOpen("sigOverrun: Port not open");
    return booleanResult(lib().SerSigOverrun(m_port), "sigOverrun failed");
}

bool SerialPortLocal::sigParityErr() {
    if (!features().supSigParityErr)
        unsupported("sigParityErr not supported on ");
    requireOpen("sigParityErr: Port not open");
    return booleanResult(lib().SerSigParityErr(m_port), nullptr);
}

bool SerialPortLocal::rxOverflow() {
    if (!features().supRxOverflow)
        unsupported("rxOverflow not supported on ");
    requireOpen("rxOverflow: Port not open");
    return booleanResult(lib().SerRxOverflow(m_port), "rxOverflow failed");
}

int32_t SerialPortLocal::rxReadyCount() {
    if (!features().supRxReadyCount)
        unsupported("rxReadyCount not supported on ");
    const int32_t r = lib().SerRxReadyCount(m_port);
    if (r == -1) {
        if (m_esh) {
            m_esh->sioErrorEvent(RXREADYCOUNT);
            return -1;
        }
        throw SerialIoError(QStringLiteral("rxReadyCount failed"));
    }
    return r;
}

int32_t SerialPortLocal::txBufCount() {
    if (!features().supTxBufCount)
        unsupported("txBufCount not supported on ");
    requireOpen("txBufCount: Port not open");
    const int32_t r = lib().SerTxBufCount(m_port);
    if (r == -1)
        throw SerialIoError(QStringLiteral("txBufCount failed"));
    return r;
}

void SerialPortLocal::sendBreak(int32_t milliseconds) {
    if (!features().supSendBreak)
        unsupported("sendBreak not supported on ");
    requireOpen("sendBreak: Port not open");
    if (lib().SerSendBreak(m_port, milliseconds) == -1)
        throw SerialIoError(QStringLiteral("sendBreak failed"));
}

void SerialPortLocal::rxFlush() {
    if (lib().SerRxFlush(m_port) == -1)
        throw SerialIoError(QStringLiteral("rxFlush failed"));
}

void SerialPortLocal::txFlush() {
    if (lib().SerTxFlush(m_port) == -1)
        throw SerialIoError(QStringLiteral("txFlush failed"));
}

void SerialPortLocal::txDrain() {
    if (lib().SerTxDrain(m_port) == -1)
        throw SerialIoError(QStringLiteral("txDrain failed"));
}

void SerialPortLocal::setTimeoutRx(int32_t milliseconds) {
    if (lib().SerSetTimeoutRx(m_port, milliseconds) == -1)
        throw SerialIoError(QStringLiteral("setTimeoutRx failed"));
}

void SerialPortLocal::setTimeoutTx(int32_t milliseconds) {
    if (lib().SerSetTimeoutTx(m_port, milliseconds) == -1)
        throw SerialIoError(QStringLiteral("setTimeoutTx failed"));
}

int32_t SerialPortLocal::getTimeoutRx() {
    return lib().SerGetTimeoutRx(m_port);
}
int32_t SerialPortLocal::getTimeoutTx() {
    return lib().SerGetTimeoutTx(m_port);
}

} // namespace serial
