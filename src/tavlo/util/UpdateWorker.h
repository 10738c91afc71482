#pragma once

#include "tavlo/util/ReadRemoteUpdate.h"
#include "worker/BackgroundTask.h"

#include <optional>

namespace tavlo::base {
class ResourceBundle;
}

namespace tavlo::util {

class UpdateWorkerView;

// The update check at start-up: fetches the version document in the background and tells the view whether a
// newer release exists. The status line shows "checking.for.update" while it runs, then "update.available"
// ("update.available.qx" for the QX edition) or the idle text; after a failed fetch it keeps
// "update.check.failed". The view must outlive the task (or cancel it first).
class UpdateWorker : public worker::BackgroundTask<std::optional<ReadRemoteUpdate>, QString> {
public:
    UpdateWorker(UpdateWorkerView* view, QString remoteUrl, QString currentVersion, QString language, QString edition,
                 ReadRemoteUpdate::Timeouts timeouts = {});

protected:
    std::optional<ReadRemoteUpdate> doInBackground() override;
    void process(const QList<QString>& chunks) override;
    void done() override;

private:
    const base::ResourceBundle& m_resourceBundle;
    UpdateWorkerView* m_view;
    QString m_remoteUrl;
    QString m_currentVersion;
    QString m_language;
    QString m_edition;
    ReadRemoteUpdate::Timeouts m_timeouts;
};

} // namespace tavlo::util
