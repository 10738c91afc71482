#include "tavlo/util/UpdateWorker.h"

#include "base/ResourceBundle.h"
#include "tavlo/util/ProductSite.h"
#include "tavlo/util/UpdateWorkerView.h"

#include "../../fakes/LocalHttpServer.h"
#include "../../fakes/QtTestApp.h"

#include <gtest/gtest.h>

using tavlo::base::ResourceBundle;
using tavlo::test::LocalHttpServer;
using tavlo::test::processEventsUntil;
using tavlo::util::UpdateWorker;

namespace {

class RecordingView : public tavlo::util::UpdateWorkerView {
public:
    void setText(const QString& text) override {
        offGui |= QThread::currentThread() != QCoreApplication::instance()->thread();
        texts.append(text);
    }
    QStringList texts;
    bool offGui = false;
};

QString text(const char* key) {
    return ResourceBundle::getBundle(QStringLiteral("tavlo.Tavlo")).getString(key);
}

QString availableText(const char* key) {
    return ResourceBundle::getBundle(QStringLiteral("tavlo.Tavlo"))
        .format(QString::fromLatin1(key), {tavlo::util::ProductSite::downloadAddress()});
}

class UpdateWorkerTest : public ::testing::Test {
protected:
    // Runs one check to its end and returns what the status line showed, in order.
    QStringList check(const QString& edition, tavlo::util::ReadRemoteUpdate::Timeouts timeouts = {}) {
        auto worker = std::make_shared<UpdateWorker>(&m_view, m_server.url(), QStringLiteral("2018.1.0.1"),
                                                     QStringLiteral("en"), edition, timeouts);
        worker->execute();
        EXPECT_TRUE(processEventsUntil([&] { return worker->isDone(); }, 20000));
        EXPECT_TRUE(worker->waitForBody(20000));
        tavlo::test::drainEvents(100);
        EXPECT_FALSE(m_view.offGui);
        return m_view.texts;
    }

    LocalHttpServer m_server;
    RecordingView m_view;
};

TEST_F(UpdateWorkerTest, ANewerVersionIsAnnouncedAfterTheCheckingText) {
    m_server.serve("<version2_en>2018.1.0.2</version2_en>");
    EXPECT_EQ(check(QString()), (QStringList{text("checking.for.update"), availableText("update.available")}));
}

TEST_F(UpdateWorkerTest, TheQxEditionGetsItsOwnAnnouncement) {
    m_server.serve("<version2_qx_en>2019.0.0.0</version2_qx_en>");
    EXPECT_EQ(check(QStringLiteral("QX")).last(), availableText("update.available.qx"));
}

TEST_F(UpdateWorkerTest, NoNewerVersionReturnsTheStatusLineToItsIdleText) {
    m_server.serve("<version2_de>2019.0.0.0</version2_de><version2_en>2018.1.0.1</version2_en>");
    EXPECT_EQ(check(QString()).last(), text("VudareDiVezFrame2.statusJLabel.text"));
}

TEST_F(UpdateWorkerTest, AFailedFetchLeavesTheFailureTextInTheStatusLine) {
    m_server.setMode(LocalHttpServer::Mode::NeverAnswer);
    const QStringList texts = check(QString(), {2000, 200});
    ASSERT_FALSE(texts.isEmpty());
    EXPECT_EQ(texts.last(), text("update.check.failed"));
    EXPECT_FALSE(texts.contains(text("VudareDiVezFrame2.statusJLabel.text")));
}

TEST_F(UpdateWorkerTest, CancellingEndsAWaitingFetchAtOnceAndLeavesTheStatusLineAlone) {
    m_server.setMode(LocalHttpServer::Mode::NeverAnswer);
    auto worker = std::make_shared<UpdateWorker>(&m_view, m_server.url(), QStringLiteral("2018.1.0.1"),
                                                 QStringLiteral("en"), QString());
    worker->execute();
    ASSERT_TRUE(processEventsUntil([&] { return m_server.requests() == 1; }));
    worker->cancel(true);
    // Well inside the 5 s read time-out.
    EXPECT_TRUE(worker->waitForBody(3000));
    tavlo::test::drainEvents(100);
    EXPECT_EQ(m_view.texts, QStringList{text("checking.for.update")});
}

TEST(ProductSiteTest, TheHostIsAReservedExampleNameAndTheDocumentIsVersionXmlOverHttps) {
    const QString host = tavlo::util::ProductSite::host();
    EXPECT_TRUE(host.endsWith(QLatin1String(".example"))) << host.toStdString();
    EXPECT_EQ(QUrl(QStringLiteral("https://") + host).host(), host) << "not a valid host name";
    EXPECT_EQ(tavlo::util::ProductSite::versionDocumentAddress(),
              QStringLiteral("https://") + host + QStringLiteral("/version.xml"));
}

} // namespace
