/*
 * The native serial library's contract: every entry point that the serial layer of Tavlo loads at run time,
 * the port record that opening and configuring take, the result codes, and the callbacks the library calls.
 *
 * Thread safety: every entry point may be called from any thread. A port is read by one thread at a time; any
 * other thread may close it while that read is returning, and the library makes the close wait for the read,
 * so that a read never touches a device that was closed (or a descriptor that was reused).
 *
 * Waiting: with a receive timeout above 0, SerGetByte and SerGetData wait in the library (without spinning)
 * until a byte arrives, the timeout ends, or the port is closed; SerClosePort from another thread ends such a
 * wait at once, and the read then reports no byte or a failed read. One other thread may write the port
 * (SerPutByte, SerPutData) while a read waits: the write goes out at once and neither waits for the other.
 * The calls on the receive side (SerRxReadyCount, SerRxFlush, SerSetTimeoutRx, SerGetTimeoutRx) do wait
 * for a read in progress.
 *
 * Port handles are 0-based slot numbers. SerOpenPort stores the 1-based slot in the record's `port` field;
 * the handle is that number minus 1. Handle -1 stands for a closed port and every call on it fails.
 */
#ifndef TSP_H
#define TSP_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define TSP_API __declspec(dllexport)
#else
#define TSP_API __attribute__((visibility("default")))
#endif

/* Result codes of SerOpenPort and SerConfigure (0 is success). */
enum {
    TSP_OK = 0,
    TSP_ERR_ALREADY_OPEN = 1000, /* this library has the port open already */
    TSP_ERR_NOT_OPEN = 1001,     /* the handle names no open port */
    TSP_ERR_IN_USE = 1002,       /* another program (or another handle) holds the port */
    TSP_ERR_NOT_VALID = 1003,    /* the name is empty or the device is not a serial port */
    TSP_ERR_NO_FILE = 1004,      /* no device of that name */
    TSP_ERR_FAILED = 1005,       /* any other failure of the system */
    TSP_ERR_PERMISSION = 1006,   /* the device may not be opened by this user */
    TSP_ERR_BUSY = 1007,         /* the device refuses a second opener */
    TSP_ERR_NO_DEVICE = 1008,    /* the name exists but no device answers behind it */
    TSP_ERR_UNSUPPORTED = 1009,  /* a setting this port or system cannot apply */
    TSP_ERR_NO_SLOT = 1010       /* too many ports open */
};

/* SerGetByte: no byte within the receive timeout. */
#define TSP_NO_BYTE (-1)
/* SerGetByte: the read failed; the device has gone (unplugged, hung up) or the handle is not open. */
#define TSP_READ_FAILED (-2)

/* Input line bits, used by the simulated library's control calls. */
#define TSP_LINE_CTS 0x01
#define TSP_LINE_DSR 0x02
#define TSP_LINE_CD 0x04
#define TSP_LINE_RING 0x08
/* Output line bits. */
#define TSP_LINE_DTR 0x10
#define TSP_LINE_RTS 0x20

/*
 * The port record. Bit rate: 0 to 14 is an index into the table 110, 150, 300, 600, 1200, 2400, 4800, 9600,
 * 19200, 38400, 57600, 115200, 230400, 460800, 921600; above 30 it is a rate in bit/s. Data bits 0 to 3 are 5 to 8
 * bits; stop bits 0 is one, 1 is two; parity 0 none, 1 odd, 2 even, 3 mark, 4 space; handshake 0 none,
 * 1 XON/XOFF, 2 CTS/RTS, 3 DSR/DTR, or split bits 16 hard in, 32 hard out, 64 soft in, 128 soft out.
 */
typedef struct TspPortConfig {
    int32_t port;         /* out: 1-based slot of the opened port */
    const char* portName; /* NUL-terminated device name in the system's text encoding */
    const char* baseName; /* device name stem; unused by these backends */
    int32_t txLen;
    int32_t rxLen;
    int32_t bitRate;
    int32_t parity;
    int32_t dataBits;
    int32_t stopBits;
    int32_t handshake;
    int32_t hardFlow;
    int32_t disableActiveLink;
} TspPortConfig;

/* Callbacks of the port listing: for each port its name first, then its driver information where it exists. */
typedef struct TspHost {
    void* context;
    void (*addPortName)(void* context, const char* name);
    void (*addPortInfo)(void* context, const char* name, const char* maker, const char* description);
} TspHost;

/* Called when a serial device arrives or leaves. */
typedef void (*TspDeviceNotification)(void* context);

TSP_API int32_t SerOpenPort(TspPortConfig* config);
TSP_API int32_t SerConfigure(int32_t handle, const TspPortConfig* config);
TSP_API int32_t SerClosePort(int32_t handle);

/* One byte 0 to 255, TSP_NO_BYTE when none arrived within the receive timeout (with timeout 0: at once), or
 * TSP_READ_FAILED. */
TSP_API int32_t SerGetByte(int32_t handle);
/* Up to count bytes into buffer; the number stored (0 to count), or -1 when the read failed. */
TSP_API int32_t SerGetData(int32_t handle, uint8_t* buffer, int32_t count);
TSP_API int32_t SerPutByte(int32_t handle, uint8_t byte);
/* The number of bytes accepted within the transmit timeout. */
TSP_API int32_t SerPutData(int32_t handle, const uint8_t* buffer, int32_t count);

TSP_API int32_t SerRxReadyCount(int32_t handle);
TSP_API int32_t SerTxBufCount(int32_t handle);
TSP_API int32_t SerRxFlush(int32_t handle);
TSP_API int32_t SerTxFlush(int32_t handle);
TSP_API int32_t SerTxDrain(int32_t handle);

TSP_API int32_t SerSetDTR(int32_t handle, int32_t on);
TSP_API int32_t SerSetRTS(int32_t handle, int32_t on);
/* Line and condition queries: 1 on (or seen since the last query), 0 off, -1 failure. */
TSP_API int32_t SerSigCTS(int32_t handle);
TSP_API int32_t SerSigDSR(int32_t handle);
TSP_API int32_t SerSigCD(int32_t handle);
TSP_API int32_t SerSigRing(int32_t handle);
TSP_API int32_t SerSigBreak(int32_t handle);
TSP_API int32_t SerSigFrameErr(int32_t handle);
TSP_API int32_t SerSigOverrun(int32_t handle);
TSP_API int32_t SerSigParityErr(int32_t handle);
TSP_API int32_t SerRxOverflow(int32_t handle);
TSP_API int32_t SerSendBreak(int32_t handle, int32_t milliseconds);

TSP_API int32_t SerSetTimeoutRx(int32_t handle, int32_t milliseconds);
TSP_API int32_t SerSetTimeoutTx(int32_t handle, int32_t milliseconds);
TSP_API int32_t SerGetTimeoutRx(int32_t handle);
TSP_API int32_t SerGetTimeoutTx(int32_t handle);

TSP_API int32_t SerResetPortDriver(const char* driver);
TSP_API const char* SerGetLibVer(void);
TSP_API const char* SerGetName(int32_t which);
TSP_API int32_t SerFlowTask(int32_t handle);
/* Runs a port server where the system needs one; fills message on failure and returns non-zero. */
TSP_API int32_t SerServerTask(char* message, int32_t messageSize);

TSP_API int32_t SerGetInstanceLock(void);
TSP_API int32_t SerSetInstanceLock(int32_t value);
TSP_API int32_t SerGetStatusAPM(void);
TSP_API int32_t SerGetResumeState(int32_t flag);
TSP_API int32_t SerGetPowerMode(int32_t which);
TSP_API int32_t SerSetPowerMode(int32_t which, int32_t mode);

TSP_API int32_t SerRegisterDeviceNotification(TspDeviceNotification callback, void* context);
TSP_API int32_t SerUnregisterDeviceNotification(TspDeviceNotification callback, void* context);

/* Lists the machine's serial ports through the host's callbacks before it returns; the number of ports. */
TSP_API int32_t SerGetPortList(const TspHost* host);
/* The driver maker of a port that the last listing found; "" when unknown. */
TSP_API const char* SerGetPortMfgr(const char* portName);

#ifdef __cplusplus
}
#endif

#endif /* TSP_H */
