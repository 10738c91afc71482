// A user without access to the port or to /dev/uinput starts the headless wedge: the failure keeps the serial
// layer's text and says below it how to get access. Run as an unprivileged user through setpriv.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <grp.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Outcome {
    int exitCode = -1;
    QString err;
};

const char kSettings[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<preferences EXTERNAL_XML_VERSION=\"1.0\"><root type=\"user\"><map/>"
                         "<node name=\"com\"><map/><node name=\"corvane\"><map/><node name=\"Tavlo\"><map>"
                         "<entry key=\"instrument\" value=\"GENERIC\"/><entry key=\"sound\" value=\"NONE\"/>"
                         "</map></node></node></node></root></preferences>\n";

class PermissionHintsRun : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to hand a device to an unprivileged user";
        if (QStandardPaths::findExecutable("setpriv").isEmpty())
            GTEST_SKIP() << "setpriv (util-linux) is not installed";
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_EQ(::chmod(QFile::encodeName(m_dir.path()).constData(), 0755), 0);
        QFile settings(m_dir.filePath("settings.xml"));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write(kSettings);
        settings.close();
        ASSERT_EQ(::openpty(&m_master, &m_slave, m_name, nullptr, nullptr), 0);
    }
    void TearDown() override {
        if (m_master >= 0)
            ::close(m_master);
        if (m_slave >= 0)
            ::close(m_slave);
    }

    // tavlo --headless as the user nobody, with no supplementary groups; `output` "keyboard" types the values.
    Outcome runAsNobody(const QStringList& environment, const QString& port, const QString& output = "print") {
        QProcess p;
        p.setProcessChannelMode(QProcess::SeparateChannels);
        QStringList args{"--reuid=65534", "--regid=65534", "--clear-groups", "env", "HOME=" + m_dir.path()};
        args << environment << TAVLO_BIN_DIR "/tavlo"
             << "--headless"
             << "--settings" << m_dir.filePath("settings.xml") << "--output" << output << "--count"
             << "1" << port;
        p.start("setpriv", args);
        Outcome run;
        if (!p.waitForFinished(30000)) {
            p.kill();
            p.waitForFinished(5000);
            return run;
        }
        run.exitCode = p.exitCode();
        run.err = QString::fromUtf8(p.readAllStandardError());
        return run;
    }

    QTemporaryDir m_dir;
    int m_master = -1;
    int m_slave = -1;
    char m_name[256] = {};
};

TEST_F(PermissionHintsRun, APortOfTheDialoutGroupNamesTheGroupAndTheCommand) {
    const group* dialout = ::getgrnam("dialout");
    if (!dialout)
        GTEST_SKIP() << "this system has no group dialout";
    ASSERT_EQ(::chown(m_name, 0, dialout->gr_gid), 0);
    ASSERT_EQ(::chmod(m_name, 0660), 0);
    const Outcome run = runAsNobody({}, m_name);
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    // The serial layer's own text is unchanged; the hint follows it on the same log line.
    EXPECT_TRUE(run.err.contains(QString(m_name) + ": SerOpenPort failed: Permission denied "
                                                   "Members of the group 'dialout' may use this port: sudo usermod "
                                                   "-aG dialout $USER, then log in again.\n"))
        << run.err.toStdString();
}

TEST_F(PermissionHintsRun, APortOnlyRootMayUseGivesNoGroupToJoin) {
    ASSERT_EQ(::chown(m_name, 0, 0), 0);
    ASSERT_EQ(::chmod(m_name, 0600), 0);
    const Outcome run = runAsNobody({}, m_name);
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(": SerOpenPort failed: Permission denied Only root may use " + QString(m_name) +
                                 " (owner 'root', group 'root', mode 0600)"))
        << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("usermod")) << run.err.toStdString();
}

TEST_F(PermissionHintsRun, AMissingPortIsNoMatterOfPermission) {
    const Outcome run = runAsNobody({}, m_dir.filePath("ttyUSB9"));
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("SerOpenPort failed")) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("group")) << run.err.toStdString();
}

TEST_F(PermissionHintsRun, TypingThroughAMissingUinputSaysHowToLoadIt) {
    if (QFile::exists("/dev/uinput"))
        GTEST_SKIP() << "/dev/uinput exists here; the unit tests cover the refused device";
    // The port itself is usable, so the only failure is the keyboard output's.
    ASSERT_EQ(::chmod(m_name, 0666), 0);
    const Outcome run = runAsNobody({"TAVLO_KEYBOARD_BACKEND=uinput"}, m_name, "keyboard");
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("Cannot open /dev/uinput for the virtual keyboard: No such file or directory "
                                 "Typing on a Wayland desktop without the virtual keyboard protocol (GNOME, KDE) "
                                 "needs /dev/uinput, which does not exist: load its module with "
                                 "sudo modprobe uinput, and at every start with: echo uinput | sudo tee "
                                 "/etc/modules-load.d/uinput.conf"))
        << run.err.toStdString();
}

TEST_F(PermissionHintsRun, TheX11BackendChosenExplicitlyGetsNoUinputAdvice) {
    ASSERT_EQ(::chmod(m_name, 0666), 0);
    const Outcome run = runAsNobody({"TAVLO_KEYBOARD_BACKEND=x11", "DISPLAY=:9999"}, m_name, "keyboard");
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("Cannot open the X display")) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("uinput")) << run.err.toStdString();
}

// Chosen explicitly where no compositor answers, the Wayland backend says where it works instead of giving
// uinput advice.
TEST_F(PermissionHintsRun, TheWaylandBackendChosenExplicitlySaysWhereItWorks) {
    ASSERT_EQ(::chmod(m_name, 0666), 0);
    const Outcome run =
        runAsNobody({"TAVLO_KEYBOARD_BACKEND=wayland", "XDG_RUNTIME_DIR=" + m_dir.path(), "WAYLAND_DISPLAY=none"},
                    m_name, "keyboard");
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("Cannot connect to the Wayland compositor none")) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("virtual keyboard protocol (Sway, Hyprland")) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("modprobe")) << run.err.toStdString();
}

} // namespace
