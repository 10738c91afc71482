#pragma once

#include "serial/PortDriverInfo.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace tavlo::util {

// The port names that the port list shows: "COM4: USB Serial Port - FTDI" (name, driver description, maker)
// for every port with driver information, and the way back to the plain name. Used on the GUI thread only.
class FriendlyPortUtil {
public:
    static constexpr const char* FORMATSTR = "%s: %s - %s";

    FriendlyPortUtil() = delete;

    // Takes the port layer's driver list. Its failures pass to the caller and keep the old list.
    static void update();
    static bool portInfoListIsPopulated();
    // One friendly name per entry, in list order; empty without a list.
    static QStringList getFriendlyPortList();
    // The friendly name of the first entry with exactly that port name; the name itself when there is none.
    static QString getFriendlyPortName(const QString& name);
    // The port name of the first entry with exactly that friendly name; the text itself when there is none.
    static QString getUnfriendlyPortName(const QString& text);
    // The list itself; none before the first successful update.
    static const std::optional<QList<serial::PortDriverInfo>>& portInfoList();

    // Test support: forgets the list.
    static void resetForTesting();

private:
    static QString friendlyName(const serial::PortDriverInfo& info);
};

} // namespace tavlo::util
