#include "tavlo/util/ReadRemoteUpdate.h"

#include "base/Exceptions.h"

#include "../../fakes/LocalHttpServer.h"
#include "../../fakes/QtTestApp.h"

#include <gtest/gtest.h>

using tavlo::base::TavloException;
using tavlo::test::LocalHttpServer;
using tavlo::util::ReadRemoteUpdate;

namespace {

struct VersionPair {
    const char* current;
    const char* remote;
    bool newer;
};

class CompareVersionsTest : public ::testing::TestWithParam<VersionPair> {};

TEST_P(CompareVersionsTest, TellsWhetherTheRemoteVersionIsNewer) {
    const VersionPair& c = GetParam();
    EXPECT_EQ(ReadRemoteUpdate::compareVersions(QString::fromLatin1(c.current), QString::fromLatin1(c.remote)), c.newer)
        << c.current << " vs " << c.remote;
}

INSTANTIATE_TEST_SUITE_P(
    Versions, CompareVersionsTest,
    ::testing::Values(VersionPair{"2018.1.0.1", "2018.1.0.2", true}, VersionPair{"2018.1.0.1", "2018.1.0.1", false},
                      VersionPair{"2018.1.0.1", "2017.9.9.9", false}, VersionPair{"2018.1.0.1", "2019.0.0.0", true},
                      VersionPair{"2018.1.0.9", "2018.1.0.10", true}, VersionPair{"2018.1.0.10", "2018.1.0.9", false},
                      VersionPair{"2018.1.0.1", "2018.1.1.0", true}, VersionPair{"2018.2.0.0", "2018.1.9.9", false},
                      VersionPair{"2018.1.0.1", "02018.01.00.02", true},
                      VersionPair{"2018.1.0.1", "99999999999999999999.0.0.0", true},
                      // One point: both read as decimals, the current one as its first two numbers.
                      VersionPair{"2018.1.0.1", "2.5", false}, VersionPair{"2018.1.0.1", "2018.2", true},
                      VersionPair{"2018.1.0.1", "2018.10", false}, VersionPair{"2018.1.0.1", "2018.1", false},
                      VersionPair{"2.5", "2.55", true}, VersionPair{"2.5", "2.50", false},
                      // Not versions at all.
                      VersionPair{"2018.1.0.1", "2018.1.0", false}, VersionPair{"2018.1.0.1", "2019", false},
                      VersionPair{"2018.1.0.1", "abc", false}, VersionPair{"2018.1.0.1", "", false},
                      VersionPair{"", "2019.0.0.0", false}, VersionPair{"2018.1.0.1", "2019.0.0.x", false},
                      VersionPair{"2018.1.0.1", "2019.-1.0.0", false}, VersionPair{"2018.1.0.1", "2019..0.0", false},
                      VersionPair{"2018.1.0.1", ".5", false}, VersionPair{"2018.1.0.1", "3.", false},
                      VersionPair{"garbage", "2019.0.0.0", false}, VersionPair{"x.y", "2.5", false},
                      VersionPair{"2018.1.0.1", " 2018.1.0.2\n", true}));

class ReadRemoteUpdateTest : public ::testing::Test {
protected:
    ReadRemoteUpdate fetch(const QString& language, const QString& edition = QString(),
                           ReadRemoteUpdate::Timeouts timeouts = {}) {
        return ReadRemoteUpdate(m_server.url(), QStringLiteral("2018.1.0.1"), language, edition, timeouts);
    }
    LocalHttpServer m_server;
};

struct Document {
    const char* label;
    const char* body;
    const char* language;
    const char* edition;
    const char* remoteVersion;
    bool newer;
};

class VersionDocumentTest : public ReadRemoteUpdateTest, public ::testing::WithParamInterface<Document> {};

TEST_P(VersionDocumentTest, ReadsOnlyTheElementOfItsEditionAndLanguage) {
    const Document& d = GetParam();
    m_server.serve(d.body);
    const ReadRemoteUpdate update = fetch(QString::fromLatin1(d.language), QString::fromLatin1(d.edition));
    EXPECT_EQ(update.getContent(), QString::fromUtf8(d.body));
    EXPECT_EQ(update.getRemoteVersion(), QString::fromLatin1(d.remoteVersion));
    EXPECT_EQ(update.newerVersionAvailable(), d.newer);
}

const char* const kShared = "<versions>\n"
                            "<version2_en>2018.1.0.2</version2_en><date_en>20180301</date_en>\n"
                            "<version2_de>2018.1.0.1</version2_de>\n"
                            "<version2_qx_en>2017.9.9.9</version2_qx_en>\n"
                            "<version2>2019.0.0.0</version2>\n"
                            "</versions>\n";

INSTANTIATE_TEST_SUITE_P(
    Documents, VersionDocumentTest,
    ::testing::Values(Document{"newer", kShared, "en", "", "2018.1.0.2", true},
                      Document{"equal", kShared, "de", "", "2018.1.0.1", false},
                      Document{"older_edition", kShared, "EN", "QX", "2017.9.9.9", false},
                      Document{"no_language", kShared, "", "", "2019.0.0.0", true},
                      Document{"another_language_only", kShared, "fr", "", "", false},
                      Document{"one_point", "<version2_en>2.5</version2_en>", "en", "", "2.5", false},
                      Document{"no_element", "<html>maintenance</html>", "en", "", "", false},
                      Document{"end_before_start", "</version2_en>2019.0.0.0<version2_en>", "en", "", "", false},
                      Document{"empty_document", "", "en", "", "", false}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(ReadRemoteUpdateTest, DerivesTheTagsFromTheEdition) {
    m_server.serve("<version2_qx_en>2019.0.0.0</version2_qx_en><date_qx_en>20190101</date_qx_en>");
    const ReadRemoteUpdate qx = fetch(QStringLiteral("en"), QStringLiteral("QX"));
    EXPECT_EQ(qx.getVersionTag(), QStringLiteral("version2_qx"));
    EXPECT_EQ(qx.getDateTag(), QStringLiteral("date_qx"));
    EXPECT_EQ(qx.findXML(qx.getDateTag(), QStringLiteral("en")), QStringLiteral("20190101"));
    const ReadRemoteUpdate standard = fetch(QStringLiteral("en"));
    EXPECT_EQ(standard.getVersionTag(), QStringLiteral("version2"));
    EXPECT_EQ(standard.getDateTag(), QStringLiteral("date"));
    EXPECT_EQ(standard.getRemoteVersion(), QString());
}

TEST_F(ReadRemoteUpdateTest, AServerThatNeverAnswersEndsInATimeout) {
    m_server.setMode(LocalHttpServer::Mode::NeverAnswer);
    try {
        fetch(QStringLiteral("en"), QString(), {2000, 300});
        FAIL() << "no failure";
    } catch (const tavlo::base::TavloException& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Timeout"));
    }
    EXPECT_EQ(m_server.requests(), 1);
}

TEST_F(ReadRemoteUpdateTest, AMissingDocumentOrARefusedConnectionIsAFailure) {
    m_server.setMode(LocalHttpServer::Mode::NotFound);
    EXPECT_THROW(fetch(QStringLiteral("en")), tavlo::base::TavloException);

    QString closedUrl;
    {
        LocalHttpServer gone;
        closedUrl = gone.url();
    }
    EXPECT_THROW(ReadRemoteUpdate(closedUrl, QStringLiteral("2018.1.0.1"), QStringLiteral("en"), QString()),
                 tavlo::base::TavloException);
}

TEST_F(ReadRemoteUpdateTest, RefusesADocumentBeyondTheSizeLimit) {
    m_server.serve(QByteArray(ReadRemoteUpdate::MAX_DOCUMENT_BYTES + 1, 'x'));
    EXPECT_THROW(fetch(QStringLiteral("en")), tavlo::base::TavloException);
}

} // namespace
