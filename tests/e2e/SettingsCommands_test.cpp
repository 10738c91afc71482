// tavlo --export-settings and --import-settings as an administrator runs them: exit statuses, the messages,
// and the user's store between the runs.
#include "HeadlessRun.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using tavlo::test::settingsExport;

namespace {

struct CommandRun {
    int exitCode = -1;
    QString out;
    QString err;
};

class SettingsCommandsE2e : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_home.isValid()); }

    // tavlo with a private home, so that the store it reads and writes is this test's own.
    CommandRun tavlo(const QStringList& args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_home.path());
        env.insert("XDG_CONFIG_HOME", m_home.filePath(".config"));
        return run(QStringLiteral(TAVLO_BIN_DIR "/tavlo"), args, env, 20000);
    }
    // Runs a program to its end (killed after timeoutMs) and collects its exit status and output.
    static CommandRun run(const QString& program, const QStringList& args, const QProcessEnvironment& env,
                          int timeoutMs) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program, args);
        CommandRun r;
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished(5000);
            return r;
        }
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }
    QString file(const char* name, const QByteArray& text = {}) {
        const QString path = m_home.filePath(name);
        if (!text.isNull()) {
            QFile f(path);
            EXPECT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(text);
        }
        return path;
    }
    QByteArray read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir m_home;
};

TEST_F(SettingsCommandsE2e, ImportThenExportCarriesTheValuesAndBothExitZero) {
    const CommandRun imported =
        tavlo({"--import-settings", file("in.xml", settingsExport({{"bitRate", "11"}, {"instrument", "SARTORIUS"}}))});
    ASSERT_EQ(imported.exitCode, 0) << imported.err.toStdString();
    EXPECT_TRUE(imported.out.contains("Imported")) << imported.out.toStdString();
    EXPECT_TRUE(imported.out.contains("writes its own settings over the imported ones"));

    const CommandRun exported = tavlo({"--export-settings", file("out.xml")});
    ASSERT_EQ(exported.exitCode, 0) << exported.err.toStdString();
    const QByteArray xml = read(file("out.xml"));
    EXPECT_TRUE(xml.contains("<!DOCTYPE preferences SYSTEM \"http://java.sun.com/dtd/preferences.dtd\">"));
    EXPECT_TRUE(xml.contains("<entry key=\"bitRate\" value=\"11\"/>")) << xml.data();
    EXPECT_TRUE(xml.contains("<entry key=\"instrument\" value=\"SARTORIUS\"/>")) << xml.data();
}

TEST_F(SettingsCommandsE2e, ARefusedImportExitsOneWithTheReasonAndTheStoreKeepsItsValues) {
    ASSERT_EQ(tavlo({"--import-settings", file("in.xml", settingsExport({{"bitRate", "11"}}))}).exitCode, 0);
    const CommandRun refused = tavlo({"--import-settings", file("bad.xml", "<preferences><root type=\"user\">")});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains("not well-formed")) << refused.err.toStdString();
    ASSERT_EQ(tavlo({"--export-settings", file("out.xml")}).exitCode, 0);
    EXPECT_TRUE(read(file("out.xml")).contains("<entry key=\"bitRate\" value=\"11\"/>"));
}

TEST_F(SettingsCommandsE2e, InvalidImportedValuesAreNamedAndTheImportStillSucceeds) {
    const CommandRun r = tavlo({"--import-settings", file("in.xml", settingsExport({{"delay", "5000"}}))});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("delay: stored \"5000\" is not valid; 20 is used")) << r.err.toStdString();
}

} // namespace

namespace {

// Both commands against java.util.prefs, an independent implementation of the export format: what Tavlo exports
// passes its document-type validation, and what it exports Tavlo imports. Skipped where no JDK is installed.
class SettingsAgainstJava : public SettingsCommandsE2e {
protected:
    void SetUp() override {
        SettingsCommandsE2e::SetUp();
        if (QStandardPaths::findExecutable("javac").isEmpty() || QStandardPaths::findExecutable("java").isEmpty())
            GTEST_SKIP() << "no JDK (javac and java) on this machine";
        QProcess javac;
        javac.start("javac",
                    {"-d", m_home.path(), QStringLiteral(TAVLO_TEST_DATA_DIR "/prefs-oracle/PrefsOracle.java")});
        ASSERT_TRUE(javac.waitForFinished(60000)) << "javac did not finish";
        ASSERT_EQ(javac.exitCode(), 0) << javac.readAllStandardError().toStdString();
    }
    // The oracle with its own preferences root inside this test's folder.
    CommandRun java(const QStringList& args) {
        return run("java",
                   QStringList{"-Djava.util.prefs.userRoot=" + m_home.filePath("java-prefs"), "-cp", m_home.path(),
                               "PrefsOracle"} +
                       args,
                   QProcessEnvironment::systemEnvironment(), 60000);
    }
};

TEST_F(SettingsAgainstJava, EachReadsWhatTheOtherWrites) {
    ASSERT_EQ(
        tavlo({"--import-settings", file("in.xml", settingsExport({{"bitRate", "11"}, {"port", "/dev/ttyUSB3"}}))})
            .exitCode,
        0);
    ASSERT_EQ(tavlo({"--export-settings", file("tavlo.xml")}).exitCode, 0);
    const CommandRun javaRead = java({"import", file("tavlo.xml")});
    ASSERT_EQ(javaRead.exitCode, 0) << javaRead.err.toStdString();
    EXPECT_TRUE(javaRead.out.contains("bitRate=11\n")) << javaRead.out.toStdString();
    EXPECT_TRUE(javaRead.out.contains("port=/dev/ttyUSB3\n")) << javaRead.out.toStdString();

    const CommandRun written = java({"export", file("java.xml"), "bitRate=5", "delay=30", "port=/dev/ttyS1"});
    ASSERT_EQ(written.exitCode, 0) << written.err.toStdString();
    const CommandRun imported = tavlo({"--import-settings", file("java.xml")});
    ASSERT_EQ(imported.exitCode, 0) << imported.err.toStdString();
    ASSERT_EQ(tavlo({"--export-settings", file("again.xml")}).exitCode, 0);
    const QByteArray again = read(file("again.xml"));
    EXPECT_TRUE(again.contains("<entry key=\"bitRate\" value=\"5\"/>")) << again.data();
    EXPECT_TRUE(again.contains("<entry key=\"delay\" value=\"30\"/>")) << again.data();
    EXPECT_TRUE(again.contains("<entry key=\"port\" value=\"/dev/ttyS1\"/>")) << again.data();
}

} // namespace
