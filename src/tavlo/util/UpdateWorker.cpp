#include "tavlo/util/UpdateWorker.h"

#include "base/ResourceBundle.h"
#include "tavlo/util/ProductSite.h"
#include "tavlo/util/UpdateWorkerView.h"

#include <QLoggingCategory>

using tavlo::base::ResourceBundle;

Q_LOGGING_CATEGORY(tavloUpdateLog, "tavlo.update", QtInfoMsg)

namespace tavlo::util {

UpdateWorker::UpdateWorker(UpdateWorkerView* view, QString remoteUrl, QString currentVersion, QString language,
                           QString edition, ReadRemoteUpdate::Timeouts timeouts)
    : m_resourceBundle(ResourceBundle::getBundle(QStringLiteral("tavlo.Tavlo"))), m_view(view),
      m_remoteUrl(std::move(remoteUrl)), m_currentVersion(std::move(currentVersion)), m_language(std::move(language)),
      m_edition(std::move(edition)), m_timeouts(timeouts) {}

std::optional<ReadRemoteUpdate> UpdateWorker::doInBackground() {
    publish(m_resourceBundle.getString(QStringLiteral("checking.for.update")));
    try {
        return ReadRemoteUpdate(m_remoteUrl, m_currentVersion, m_language, m_edition, m_timeouts);
    } catch (const std::exception& e) {
        qCInfo(tavloUpdateLog).noquote() << QStringLiteral("Update check failed: ") + QString::fromUtf8(e.what());
        publish(m_resourceBundle.getString(QStringLiteral("update.check.failed")));
        return std::nullopt;
    }
}

void UpdateWorker::process(const QList<QString>& chunks) {
    // Only the last text would stay visible anyway.
    m_view->setText(chunks.last());
}

void UpdateWorker::done() {
    std::optional<ReadRemoteUpdate> update;
    try {
        update = get();
    } catch (const std::exception&) {
        return;
    }
    // Without a document the status line keeps the failure text.
    if (!update)
        return;
    if (ReadRemoteUpdate::compareVersions(m_currentVersion, update->getRemoteVersion())) {
        const QString key = m_edition == QLatin1String("QX") ? QStringLiteral("update.available.qx")
                                                             : QStringLiteral("update.available");
        m_view->setText(m_resourceBundle.format(key, {ProductSite::downloadAddress()}));
    } else {
        m_view->setText(m_resourceBundle.getString(QStringLiteral("VudareDiVezFrame2.statusJLabel.text")));
    }
}

} // namespace tavlo::util
