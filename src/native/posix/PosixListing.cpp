// Port listing on POSIX systems through libserialport: names with the USB maker and product, or the driver's
// own description for other ports.
#include "native/common/Listing.h"
#include "native/common/Port.h"

#include <libserialport.h>

namespace tsp {

namespace {

std::string text(const char* s) {
    return s ? std::string(s) : std::string();
}

} // namespace

int32_t listPorts(const TspHost* host) {
    sp_port** ports = nullptr;
    if (sp_list_ports(&ports) != SP_OK)
        return -1;
    ListingPass pass(host);
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
        pass.add(name, maker, description);
    }
    sp_free_port_list(ports);
    return pass.finish();
}

} // namespace tsp
