#include "native/common/Listing.h"

#include "native/common/Port.h"

#include <mutex>

namespace tsp {

namespace {

std::mutex g_makersLock;
std::map<std::string, std::string> g_makers;

} // namespace

void ListingPass::add(const std::string& name, const std::string& maker, const std::string& description) {
    if (m_host && m_host->addPortName)
        m_host->addPortName(m_host->context, name.c_str());
    if (m_host && m_host->addPortInfo)
        m_host->addPortInfo(m_host->context, name.c_str(), maker.c_str(), description.c_str());
    m_makers[name] = maker;
    ++m_count;
}

int32_t ListingPass::finish() {
    std::lock_guard<std::mutex> lock(g_makersLock);
    g_makers.swap(m_makers);
    return m_count;
}

std::string withoutPortSuffix(const std::string& description, const std::string& portName) {
    const std::string suffix = " (" + portName + ")";
    if (portName.empty() || description.size() <= suffix.size())
        return description;
    const size_t at = description.size() - suffix.size();
    for (size_t i = 0; i < suffix.size(); ++i) {
        const char a = description[at + i], b = suffix[i];
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a) != lower(b))
            return description;
    }
    std::string kept = description.substr(0, at);
    while (!kept.empty() && kept.back() == ' ')
        kept.pop_back();
    return kept.empty() ? description : kept;
}

std::string portMaker(const std::string& name) {
    std::lock_guard<std::mutex> lock(g_makersLock);
    const auto it = g_makers.find(name);
    return it == g_makers.end() ? std::string() : it->second;
}

} // namespace tsp
