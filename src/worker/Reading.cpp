#include "worker/Reading.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace tavlo::worker {

QString outcomeText(Outcome outcome) {
    switch (outcome) {
    case Outcome::Queued:
        return QStringLiteral("queued");
    case Outcome::Accepted:
        return QStringLiteral("accepted");
    case Outcome::Duplicate:
        return QStringLiteral("duplicate");
    case Outcome::Unstable:
        return QStringLiteral("unstable");
    case Outcome::Overload:
        return QStringLiteral("overload");
    case Outcome::NoValue:
        return QStringLiteral("no-value");
    case Outcome::Error:
        return QStringLiteral("error");
    }
    return {};
}

QString statusEventName(StatusEvent::Kind kind) {
    switch (kind) {
    case StatusEvent::Kind::Started:
        return QStringLiteral("started");
    case StatusEvent::Kind::PortOpened:
        return QStringLiteral("port-opened");
    case StatusEvent::Kind::Lost:
        return QStringLiteral("lost");
    case StatusEvent::Kind::Reopened:
        return QStringLiteral("reopened");
    case StatusEvent::Kind::Stopped:
        return QStringLiteral("stopped");
    }
    return {};
}

Instant instantNow() {
    return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now());
}

QString isoTime(Instant time) {
    const auto ms = std::chrono::floor<std::chrono::milliseconds>(time);
    const std::time_t seconds = std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(ms));
    // A flood brings many records within one second: the date, time and offset are worked out once per second.
    thread_local std::time_t cachedSecond = -1;
    thread_local char cachedDate[64];
    thread_local char cachedOffset[16];
    thread_local std::string cachedZone;
    const char* zone = std::getenv("TZ");
    if (seconds != cachedSecond || cachedZone != (zone ? zone : "")) {
        std::tm local{};
        ::localtime_r(&seconds, &local);
        const long offset = local.tm_gmtoff;
        const long minutes = std::labs(offset) / 60;
        std::snprintf(cachedDate, sizeof cachedDate, "%04d-%02d-%02dT%02d:%02d:%02d", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
        std::snprintf(cachedOffset, sizeof cachedOffset, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60 % 100,
                      minutes % 60);
        cachedSecond = seconds;
        cachedZone = zone ? zone : "";
    }
    char text[128];
    std::snprintf(text, sizeof text, "%s.%03d%s", cachedDate, static_cast<int>(ms.time_since_epoch().count() % 1000),
                  cachedOffset);
    return QString::fromLatin1(text);
}

} // namespace tavlo::worker
