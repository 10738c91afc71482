// The shared settings file of the multi-user edition as an ordinary user meets it: a file or folder set up by
// another account that this user may not read or write. Every such refusal must reach the caller as an access
// refusal naming the file, never be logged and dropped. Runs in a child process as an unprivileged user (nobody)
// when the tests run as root, and as the current user otherwise.
#include "config/Config.h"
#include "tavlo/prefs/ConfigStore.h"
#include "tavlo/prefs/FilePreferences.h"
#include "tavlo/prefs/PreferencesExceptions.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using tavlo::config::Config;
using tavlo::prefs::AccessDeniedException;
using tavlo::prefs::ConfigStore;
using tavlo::prefs::FilePreferences;

namespace {

constexpr uid_t kNobody = 65534;

// Runs the step in a child process without privileges; its text (empty when it did as expected) comes back.
std::string asUnprivilegedUser(const std::function<std::string()>& step) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return "no pipe";
    const pid_t child = ::fork();
    if (child < 0)
        return "no fork";
    if (child == 0) {
        ::close(pipeFds[0]);
        std::string result;
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
                                 ::setresuid(kNobody, kNobody, kNobody) != 0))
            result = "cannot become an unprivileged user";
        else
            result = step();
        [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], result.data(), result.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string out;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status))
        return "the child process crashed";
    return out;
}

// The access refusal that the action must raise; empty when it did, with the file named in its text.
std::string expectRefusal(const std::function<void()>& action, const QString& file) {
    try {
        action();
    } catch (const AccessDeniedException& e) {
        if (!e.message().contains(QDir::toNativeSeparators(file)))
            return "the refusal does not name the file: " + e.message().toStdString();
        if (!e.message().contains(QStringLiteral("administrator")))
            return "the refusal does not say what to do: " + e.message().toStdString();
        return {};
    } catch (const std::exception& e) {
        return std::string("another failure: ") + e.what();
    }
    return "no failure";
}

class SharedSettingsAccess : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_programData.isValid());
        // The test folder must be reachable by the unprivileged user.
        ::chmod(m_programData.path().toLocal8Bit().constData(), 0755);
        qputenv("ProgramData", m_programData.path().toLocal8Bit());
        m_file = ConfigStore::multiUserPreferencesFile();
    }
    void TearDown() override {
        qunsetenv("ProgramData");
        // Give everything back to the owner so the folder can be removed.
        for (const QString& path : {m_file, QFileInfo(m_file).absolutePath(),
                                    m_programData.filePath(QStringLiteral("Corvane")), m_programData.path()})
            ::chmod(path.toLocal8Bit().constData(), QFileInfo(path).isDir() ? 0755 : 0644);
    }

    // The administrator's folder and file with that mode; the folder itself is not writable by others.
    void prepareSharedFile(mode_t fileMode) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(m_file).absolutePath()));
        QFile f(m_file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#FilePreferences\ncom.corvane.Tavlo.port=COM7\n");
        f.close();
        ASSERT_EQ(::chmod(m_file.toLocal8Bit().constData(), fileMode), 0);
        ASSERT_EQ(::chmod(QFileInfo(m_file).absolutePath().toLocal8Bit().constData(), 0555), 0);
    }

    QTemporaryDir m_programData;
    QString m_file;
};

TEST_F(SharedSettingsAccess, AFileTheUserMayNotReadIsRefusedAtLoading) {
    prepareSharedFile(0600);
    EXPECT_EQ(asUnprivilegedUser([this] {
                  return expectRefusal(
                      [this] {
                          auto root = FilePreferences::createRoot(m_file);
                          ConfigStore store(*root);
                          Config config;
                          store.loadConfig(config, {QStringLiteral("COM1")});
                      },
                      m_file);
              }),
              "");
}

TEST_F(SharedSettingsAccess, AFileTheUserMayReadButNotWriteIsRefusedAtSaving) {
    prepareSharedFile(0644);
    EXPECT_EQ(asUnprivilegedUser([this] {
                  auto root = FilePreferences::createRoot(m_file);
                  ConfigStore store(*root);
                  Config config;
                  try {
                      store.loadConfig(config, {QStringLiteral("COM1")});
                  } catch (const std::exception& e) {
                      return std::string("loading failed: ") + e.what();
                  }
                  if (config.getPort() != QStringLiteral("COM7"))
                      return std::string("the shared settings were not read");
                  config.setDelay(QStringLiteral("45"));
                  return expectRefusal([&] { store.saveConfig(config); }, m_file);
              }),
              "");
}

TEST_F(SharedSettingsAccess, AFolderThatCannotBeCreatedIsRefusedAtSaving) {
    // ProgramData itself is the administrator's: Corvane/TavloQX cannot be made there.
    ASSERT_EQ(::chmod(m_programData.path().toLocal8Bit().constData(), 0555), 0);
    EXPECT_EQ(asUnprivilegedUser([this] {
                  auto root = FilePreferences::createRoot(m_file);
                  ConfigStore store(*root);
                  Config config;
                  try {
                      store.loadConfig(config, {QStringLiteral("COM1")});
                  } catch (const std::exception& e) {
                      return std::string("loading a missing file failed: ") + e.what();
                  }
                  return expectRefusal([&] { store.saveConfig(config); }, m_file);
              }),
              "");
}

} // namespace
