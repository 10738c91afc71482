// Port listing on Windows through SetupAPI: every present device of the Ports class with a COM name, its maker
// and its friendly name.
#include "native/common/Listing.h"
#include "native/common/Port.h"

// The full windows.h, not the lean one, and before SetupAPI, which needs its GUID and common-control types.
#include <windows.h>

#include <setupapi.h>

namespace tsp {

namespace {

// The setup class of serial and parallel ports.
const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::string property(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD which) {
    char buffer[512];
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, device, which, &type, reinterpret_cast<BYTE*>(buffer),
                                           sizeof buffer - 1, nullptr))
        return std::string();
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

std::string portName(HDEVINFO set, SP_DEVINFO_DATA* device) {
    const HKEY key = SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return std::string();
    char buffer[256];
    DWORD size = sizeof buffer - 1;
    DWORD type = 0;
    std::string name;
    if (RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
        buffer[size < sizeof buffer ? size : sizeof buffer - 1] = '\0';
        name = buffer;
    }
    RegCloseKey(key);
    return name;
}

} // namespace

int32_t listPorts(const TspHost* host) {
    const HDEVINFO set = SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return -1;
    ListingPass pass(host);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        const std::string name = portName(set, &device);
        // The Ports class holds printer ports as well.
        if (name.rfind("COM", 0) != 0)
            continue;
        const std::string maker = property(set, &device, SPDRP_MFG);
        std::string description = property(set, &device, SPDRP_FRIENDLYNAME);
        if (description.empty())
            description = property(set, &device, SPDRP_DEVICEDESC);
        pass.add(name, maker, withoutPortSuffix(description, name));
    }
    SetupDiDestroyDeviceInfoList(set);
    return pass.finish();
}

} // namespace tsp
