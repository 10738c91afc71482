#include "tavlo/util/FriendlyPortUtil.h"

#include "serial/SerialPortLocal.h"

namespace tavlo::util {

namespace {

std::optional<QList<serial::PortDriverInfo>>& list() {
    static std::optional<QList<serial::PortDriverInfo>> s_list;
    return s_list;
}

} // namespace

void FriendlyPortUtil::update() {
    QList<serial::PortDriverInfo> fresh = serial::SerialPortLocal::getDriverInfoList();
    list() = std::move(fresh);
}

bool FriendlyPortUtil::portInfoListIsPopulated() {
    return list() && !list()->isEmpty();
}

const std::optional<QList<serial::PortDriverInfo>>& FriendlyPortUtil::portInfoList() {
    return list();
}

QString FriendlyPortUtil::friendlyName(const serial::PortDriverInfo& info) {
    // FORMATSTR with its three %s in order: port name, description, maker.
    return QStringLiteral("%1: %2 - %3").arg(info.getPortName(), info.getDriverDesc(), info.getDriverMfgr());
}

QStringList FriendlyPortUtil::getFriendlyPortList() {
    QStringList names;
    if (!portInfoListIsPopulated())
        return names;
    for (const serial::PortDriverInfo& info : std::as_const(*list()))
        names.append(friendlyName(info));
    return names;
}

QString FriendlyPortUtil::getFriendlyPortName(const QString& name) {
    if (list()) {
        for (const serial::PortDriverInfo& info : std::as_const(*list()))
            if (info.getPortName() == name)
                return friendlyName(info);
    }
    return name;
}

QString FriendlyPortUtil::getUnfriendlyPortName(const QString& text) {
    if (list()) {
        for (const serial::PortDriverInfo& info : std::as_const(*list()))
            if (friendlyName(info) == text)
                return info.getPortName();
    }
    return text;
}

void FriendlyPortUtil::resetForTesting() {
    list().reset();
}

} // namespace tavlo::util
