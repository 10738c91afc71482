// Port listing on POSIX systems through libserialport: names with the USB maker and product, or the driver's
// own description for other ports.
#include "native/common/Port.h"

#include <libserialport.h>
#include <map>
#include <mutex>

namespace tsp {

namespace {

std::mutex g_makersLock;
std::map<std::string, std::string> g_makers;

std::string text(const char* s) {
    return s ? std::string(s) : std::string();
}

} // namespace

int32_t listPorts(const TspHost* host) {
    sp_port** ports = nullptr;
    if (sp_list_ports(&ports) != SP_OK)
        return -1;
    std::map<std::string, std::string> makers;
    int32_t count = 0;
    for (sp_port** p = ports; *p; ++p) {
        const std::string name = text(sp_get_port_name(*p));
        if (name.empty())
            continue;
        std::string maker;
        std::string description;
        if (sp_get_port_transport(*p) == SP_TRANSPORT_USB) {
            maker = text(sp_get_port_usb_manufacturer(*p));
            description = text(sp_get_port_usb_product(*p));
        }
        if (description.empty())
            description = text(sp_get_port_description(*p));
        if (host->addPortName)
            host->addPortName(host->context, name.c_str());
        if (host->addPortInfo)
            host->addPortInfo(host->context, name.c_str(), maker.c_str(), description.c_str());
        makers[name] = maker;
        ++count;
    }
    sp_free_port_list(ports);
    std::lock_guard<std::mutex> lock(g_makersLock);
    g_makers.swap(makers);
    return count;
}

std::string portMaker(const std::string& name) {
    std::lock_guard<std::mutex> lock(g_makersLock);
    const auto it = g_makers.find(name);
    return it == g_makers.end() ? std::string() : it->second;
}

} // namespace tsp
