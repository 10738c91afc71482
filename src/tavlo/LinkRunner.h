#pragma once

#include "worker/BackgroundTask.h"

#include <QString>
#include <functional>
#include <memory>

namespace tavlo {

// Opens one address in the standard browser off the GUI thread; when that fails, tells the user on the GUI
// thread. The runners still going are joined before the program ends.
class LinkRunner : public worker::BackgroundTask<bool> {
public:
    using Opener = std::function<bool(const QString&)>;

    explicit LinkRunner(QString address, Opener opener = {});
    ~LinkRunner() override;

    // Starts a runner for the address.
    static std::shared_ptr<LinkRunner> open(const QString& address, Opener opener = {});
    // Waits for every runner that has not ended yet.
    static void waitForAll();

protected:
    bool doInBackground() override;
    void done() override;

private:
    QString m_address;
    Opener m_opener;
};

} // namespace tavlo
