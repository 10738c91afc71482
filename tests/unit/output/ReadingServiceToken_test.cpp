// The token for commands: made once per user, kept readable by the user only, the same for every program.
#include "output/ReadingServiceToken.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <thread>
#include <vector>

using tavlo::output::ReadingServiceToken;

namespace {

// Points the user's configuration folder at a fresh folder for the test.
class ReadingServiceTokenTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_saved = qgetenv("XDG_CONFIG_HOME");
        m_hadSaved = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit());
    }
    void TearDown() override {
        if (m_hadSaved)
            qputenv("XDG_CONFIG_HOME", m_saved);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }
    static mode_t modeOf(const QString& path) {
        struct stat st {};
        ::stat(QFile::encodeName(path).constData(), &st);
        return st.st_mode & 07777;
    }
    void writeToken(const QByteArray& content, QFile::Permissions permissions) {
        QDir().mkpath(QFileInfo(ReadingServiceToken::path()).absolutePath());
        QFile file(ReadingServiceToken::path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        file.setPermissions(permissions);
    }

    QTemporaryDir m_dir;
    QByteArray m_saved;
    bool m_hadSaved = false;
};

TEST_F(ReadingServiceTokenTest, IsMadeOnceInAFileOnlyTheUserCanReadAndThenReused) {
    EXPECT_EQ(ReadingServiceToken::path(), m_dir.filePath("Corvane/Tavlo/reading-service-token"));
    EXPECT_TRUE(ReadingServiceToken::load().isEmpty()) << "loading alone makes nothing";
    EXPECT_FALSE(QFile::exists(ReadingServiceToken::path()));
    QString error;
    const QString token = ReadingServiceToken::loadOrCreate(&error);
    ASSERT_FALSE(token.isEmpty()) << error.toStdString();
    EXPECT_EQ(token.size(), 64);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$")).match(token).hasMatch());
    EXPECT_EQ(modeOf(ReadingServiceToken::path()), 0600u);
    EXPECT_EQ(modeOf(m_dir.filePath("Corvane/Tavlo")), 0700u) << "a folder made for the token is private";
    EXPECT_EQ(ReadingServiceToken::loadOrCreate(&error), token);
    EXPECT_EQ(ReadingServiceToken::load(), token);
    EXPECT_EQ(QDir(m_dir.filePath("Corvane/Tavlo")).entryList(QDir::Files | QDir::Hidden),
              QStringList{"reading-service-token"})
        << "no temporary file is left";
}

TEST_F(ReadingServiceTokenTest, TwoTokensMadeOneAfterTheOtherInFreshFoldersDiffer) {
    const QString first = ReadingServiceToken::loadOrCreate(nullptr);
    QFile::remove(ReadingServiceToken::path());
    const QString second = ReadingServiceToken::loadOrCreate(nullptr);
    EXPECT_NE(first, second);
}

TEST_F(ReadingServiceTokenTest, AFileThatOthersCouldReadIsRestrictedAgainWithAWarning) {
    writeToken("my-own-token-of-enough-length\n",
               QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    QString error;
    QString warning;
    EXPECT_EQ(ReadingServiceToken::loadOrCreate(&error, &warning), "my-own-token-of-enough-length");
    EXPECT_TRUE(warning.contains("readable by other users")) << warning.toStdString();
    EXPECT_EQ(modeOf(ReadingServiceToken::path()), 0600u);
}

TEST_F(ReadingServiceTokenTest, ADamagedFileIsReportedWithItsNameAndLeftAlone) {
    writeToken("short\n", QFile::ReadOwner | QFile::WriteOwner);
    QString error;
    EXPECT_TRUE(ReadingServiceToken::loadOrCreate(&error).isEmpty());
    EXPECT_TRUE(error.contains(ReadingServiceToken::path())) << error.toStdString();
    EXPECT_TRUE(error.contains("delete it"));
    QFile file(ReadingServiceToken::path());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "short\n");
}

TEST_F(ReadingServiceTokenTest, AFolderThatCannotBeMadeIsReported) {
    // The configuration folder is a file: nothing can be made below it.
    QFile blocker(m_dir.filePath("Corvane"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString error;
    EXPECT_TRUE(ReadingServiceToken::loadOrCreate(&error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(ReadingServiceTokenTest, ProgramsStartingAtOnceAllGetTheSameToken) {
    for (int round = 0; round < 20; ++round) {
        QFile::remove(ReadingServiceToken::path());
        std::vector<QString> tokens(6);
        std::vector<std::thread> threads;
        for (QString& token : tokens)
            threads.emplace_back([&token] { token = ReadingServiceToken::loadOrCreate(nullptr); });
        for (std::thread& t : threads)
            t.join();
        for (const QString& token : tokens)
            EXPECT_EQ(token, tokens.front()) << "round " << round;
        EXPECT_FALSE(tokens.front().isEmpty());
        EXPECT_EQ(ReadingServiceToken::load(), tokens.front());
    }
}

TEST(ReadingServiceTokenText, UsableTokensNeedNoEscapingInAnAddress) {
    EXPECT_TRUE(ReadingServiceToken::isUsable("abcdefghijklmnop"));
    EXPECT_TRUE(ReadingServiceToken::isUsable("A-b.C_d~0123456789"));
    EXPECT_FALSE(ReadingServiceToken::isUsable("abcdefghijklmno")) << "15 characters are too few";
    EXPECT_FALSE(ReadingServiceToken::isUsable(QString(257, u'a')));
    EXPECT_FALSE(ReadingServiceToken::isUsable("abcdefgh ijklmnop"));
    EXPECT_FALSE(ReadingServiceToken::isUsable("abcdefgh&ijklmnop"));
    EXPECT_FALSE(ReadingServiceToken::isUsable(QString::fromUtf8("abcdefghijklmnöp")));
}

} // namespace
