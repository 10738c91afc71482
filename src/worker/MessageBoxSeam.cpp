#include "worker/MessageBoxSeam.h"

#include <atomic>

namespace tavlo::worker {

namespace {

class SilentMessageBoxSeam : public MessageBoxSeam {
public:
    void showMessage(const QString&, const QString&, Icon) override {}
};

SilentMessageBoxSeam g_silent;
std::atomic<MessageBoxSeam*> g_installed{nullptr};

} // namespace

MessageBoxSeam& MessageBoxSeam::installed() {
    MessageBoxSeam* seam = g_installed.load();
    return seam ? *seam : g_silent;
}

void MessageBoxSeam::install(MessageBoxSeam* seam) {
    g_installed.store(seam);
}

} // namespace tavlo::worker
