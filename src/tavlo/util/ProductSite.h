#pragma once

#include <QString>

namespace tavlo::util {

// The product web site. Its host is kept scrambled in the program, so that it is not found as plain text in
// the executable, and is built when needed.
class ProductSite {
public:
    static QString host();
    // "https://" + host + "/version.xml": the document the update check reads.
    static QString versionDocumentAddress();
    // The page where new releases are offered.
    static QString downloadAddress();
};

} // namespace tavlo::util
