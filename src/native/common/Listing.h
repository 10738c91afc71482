#pragma once

#include "native/tsp.h"

#include <cstdint>
#include <map>
#include <string>

namespace tsp {

// One pass of a backend's port listing: tells the host of every port as it is found and, when the pass is
// complete, makes the ports' makers the ones portMaker() answers with.
class ListingPass {
public:
    explicit ListingPass(const TspHost* host) : m_host(host) {}

    void add(const std::string& name, const std::string& maker, const std::string& description);
    // Publishes the makers of this pass and returns the number of ports.
    int32_t finish();

private:
    const TspHost* m_host;
    std::map<std::string, std::string> m_makers;
    int32_t m_count = 0;
};

// A device's friendly name without the " (COMn)" that Windows appends for the port itself, so that a list
// showing "name: description" does not show the port twice. Only the port's own name is taken off.
std::string withoutPortSuffix(const std::string& description, const std::string& portName);

} // namespace tsp
