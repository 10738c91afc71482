#include "tavlo/LinkRunner.h"

#include "worker/MessageBoxSeam.h"

#include <QDesktopServices>
#include <QMutex>
#include <QUrl>
#include <vector>

namespace tavlo {

namespace {

QMutex& registryMutex() {
    static QMutex mutex;
    return mutex;
}

std::vector<std::weak_ptr<LinkRunner>>& registry() {
    static std::vector<std::weak_ptr<LinkRunner>> runners;
    return runners;
}

} // namespace

LinkRunner::LinkRunner(QString address, Opener opener) : m_address(std::move(address)), m_opener(std::move(opener)) {
    if (!m_opener)
        m_opener = [](const QString& address) { return QDesktopServices::openUrl(QUrl(address)); };
}

LinkRunner::~LinkRunner() = default;

std::shared_ptr<LinkRunner> LinkRunner::open(const QString& address, Opener opener) {
    auto runner = std::make_shared<LinkRunner>(address, std::move(opener));
    {
        QMutexLocker lock(&registryMutex());
        auto& list = registry();
        std::erase_if(list, [](const std::weak_ptr<LinkRunner>& w) { return w.expired(); });
        list.push_back(runner);
    }
    runner->execute();
    return runner;
}

void LinkRunner::waitForAll() {
    std::vector<std::shared_ptr<LinkRunner>> running;
    {
        QMutexLocker lock(&registryMutex());
        for (const auto& weak : registry())
            if (auto runner = weak.lock())
                running.push_back(runner);
    }
    for (const auto& runner : running)
        runner->waitForBody();
}

bool LinkRunner::doInBackground() {
    return m_opener(m_address);
}

void LinkRunner::done() {
    bool opened = false;
    try {
        opened = get();
    } catch (const std::exception&) {
        opened = false;
    }
    if (!opened)
        worker::MessageBoxSeam::installed().showMessage(
            QStringLiteral("A problem occured"),
            QStringLiteral(
                "Sorry, a problem occurred while trying to open this link in your system's standard browser."),
            worker::MessageBoxSeam::Icon::Error);
}

} // namespace tavlo
