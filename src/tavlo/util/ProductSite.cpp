#include "tavlo/util/ProductSite.h"

#include <array>

namespace tavlo::util {

namespace {

constexpr std::array<unsigned char, 5> kKey = {0x5A, 0x13, 0x77, 0x2C, 0x41};
constexpr std::array<unsigned char, 19> kScrambledHost = {0x2D, 0x63, 0x0E, 0x17, 0x3E, 0x16, 0x4B, 0x30, 0x75, 0x10,
                                                          0x79, 0x70, 0x46, 0x0F, 0x42, 0x5E, 0x13, 0x6C, 0x37};

} // namespace

QString ProductSite::host() {
    QString text;
    text.reserve(int(kScrambledHost.size()));
    for (std::size_t i = 0; i < kScrambledHost.size(); ++i)
        text += QChar(char16_t(kScrambledHost[i] ^ kKey[i % kKey.size()] ^ ((i * 7) & 0xFF)));
    return text;
}

QString ProductSite::versionDocumentAddress() {
    return QStringLiteral("https://") + host() + QStringLiteral("/version.xml");
}

QString ProductSite::downloadAddress() {
    return QStringLiteral("https://") + host() + QStringLiteral("/download");
}

} // namespace tavlo::util
