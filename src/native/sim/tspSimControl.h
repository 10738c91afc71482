/*
 * Control calls of tspSim, the simulated native serial library that tests load instead of tspWin. Besides
 * every entry point of tsp.h it offers virtual ports with scripted input, input lines that tests switch,
 * error conditions on chosen bytes, open results with any code, ports that vanish while open, forced results
 * of any entry point, and a log of every entry-point call with its arguments.
 */
#ifndef TSP_SIM_CONTROL_H
#define TSP_SIM_CONTROL_H

#include "native/tsp.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Conditions that a received byte can carry; they are reported once the byte has been read. */
#define TSP_SIM_PARITY 0x01
#define TSP_SIM_FRAME 0x02
#define TSP_SIM_OVERRUN 0x04
#define TSP_SIM_BREAK 0x08
#define TSP_SIM_OVERFLOW 0x10

/* Removes every port, forced result, callback and log line. */
TSP_API void tspSimReset(void);
/* A port that opens and is listed; maker null means that the listing gives no driver information for it. */
TSP_API void tspSimAddPort(const char* name, const char* maker, const char* description);
/* Every later SerOpenPort of the port returns code (0 opens it). */
TSP_API void tspSimSetOpenResult(const char* name, int32_t code);
/* Appends bytes to the port's input. */
TSP_API void tspSimFeed(const char* name, const uint8_t* bytes, int32_t count);
/* Appends one byte that carries the TSP_SIM_* conditions in flags. */
TSP_API void tspSimFeedByte(const char* name, uint8_t byte, int32_t flags);
/* Sets the input lines (TSP_LINE_CTS, _DSR, _CD, _RING). */
TSP_API void tspSimSetLines(const char* name, int32_t lines);
/* The output lines as the host set them (TSP_LINE_DTR, _RTS). */
TSP_API int32_t tspSimOutputLines(const char* name);
/* Moves up to max bytes that the host sent into buffer; the number moved. */
TSP_API int32_t tspSimTakeOutput(const char* name, uint8_t* buffer, int32_t max);
/* The device vanishes: it is no longer listed and every call on an open handle of it fails. */
TSP_API void tspSimUnplug(const char* name);
/* 1 while the port is open. */
TSP_API int32_t tspSimIsOpen(const char* name);
/* The named entry point (e.g. "SerSigCTS") returns value from now on, without doing its work. */
TSP_API void tspSimForceResult(const char* entryPoint, int32_t value);
TSP_API void tspSimClearForcedResults(void);
/* Calls the registered device notification, if any. */
TSP_API void tspSimNotifyDevice(void);
/* Every entry-point call since the last reset or clear, one line each, e.g. "SerSetDTR(0, 1)". */
TSP_API const char* tspSimLog(void);
TSP_API void tspSimClearLog(void);

#ifdef __cplusplus
}
#endif

#endif /* TSP_SIM_CONTROL_H */
