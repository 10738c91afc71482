#include "tavlo/util/PermissionHints.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using tavlo::util::PermissionHints;
using Device = PermissionHints::Device;

namespace {

struct PortCase {
    const char* name;
    Device device;
    const char* expected; // empty: no hint
};

class SerialPortHint : public ::testing::TestWithParam<PortCase> {};

TEST_P(SerialPortHint, AdvisesOnlyWhatFitsTheDevice) {
    EXPECT_EQ(PermissionHints::forSerialPort("/dev/ttyUSB0", GetParam().device).toStdString(), GetParam().expected);
}

// Device{exists, usable, owner, group, groupMayUse, listedInGroup, mode}
INSTANTIATE_TEST_SUITE_P(
    Devices, SerialPortHint,
    ::testing::Values(
        PortCase{"usable", {true, true, "root", "dialout", true, false, 0660}, ""},
        // A missing or vanished device is not a matter of permission.
        PortCase{"missing", {false, false, "", "", false, false, 0}, ""},
        PortCase{"dialout",
                 {true, false, "root", "dialout", true, false, 0660},
                 "Members of the group 'dialout' may use this port: sudo usermod -aG dialout $USER, then log in "
                 "again."},
        PortCase{"uucp",
                 {true, false, "root", "uucp", true, false, 0660},
                 "Members of the group 'uucp' may use this port: sudo usermod -aG uucp $USER, then log in again."},
        // Joined already, but the session still runs with the groups of its login.
        PortCase{"joined_after_login",
                 {true, false, "root", "dialout", true, true, 0660},
                 "You were added to the group 'dialout', which may use this port, after this session began: log out "
                 "and in again."},
        // Joining root's group would be wrong advice, and so would joining a group that may not write.
        PortCase{"root_group",
                 {true, false, "root", "root", true, false, 0660},
                 "Only root may use /dev/ttyUSB0 (owner 'root', group 'root', mode 0660): an administrator can give "
                 "access with a udev rule for the device."},
        PortCase{"group_read_only",
                 {true, false, "root", "dialout", false, false, 0640},
                 "Only root may use /dev/ttyUSB0 (owner 'root', group 'dialout', mode 0640): an administrator can "
                 "give access with a udev rule for the device."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SerialPortHint, NamesThatAreNoDevicePathGetNoHint) {
    EXPECT_TRUE(PermissionHints::forSerialPort("COM3").isEmpty());
    EXPECT_TRUE(PermissionHints::forSerialPort("tcp://127.0.0.1:4001").isEmpty());
    EXPECT_TRUE(PermissionHints::forSerialPort("/nonexistent/ttyUSB9").isEmpty());
}

TEST(UinputHint, AMissingDeviceIsLoadedNowAndAtEveryStart) {
    const QString hint = PermissionHints::forUinput("/dev/uinput", Device{}, {});
    EXPECT_TRUE(hint.contains("sudo modprobe uinput")) << hint.toStdString();
    EXPECT_TRUE(hint.contains("echo uinput | sudo tee /etc/modules-load.d/uinput.conf")) << hint.toStdString();
}

TEST(UinputHint, AWritableDeviceNeedsNoHint) {
    EXPECT_TRUE(PermissionHints::forUinput("/dev/uinput", Device{true, true, "root", "input", true, false, 0660}, {})
                    .isEmpty());
}

TEST(UinputHint, TheShippedRuleIsInstalledWithOneCommand) {
    const Device refused{true, false, "root", "root", false, false, 0600};
    const QString shipped =
        PermissionHints::forUinput("/dev/uinput", refused, "/usr/share/doc/tavlo/examples/60-tavlo-uinput.rules");
    EXPECT_TRUE(shipped.contains("(owner 'root', group 'root', mode 0600)")) << shipped.toStdString();
    EXPECT_TRUE(shipped.contains("sudo install -m 644 /usr/share/doc/tavlo/examples/60-tavlo-uinput.rules "
                                 "/etc/udev/rules.d/ && sudo udevadm trigger --sysname-match=uinput"))
        << shipped.toStdString();
}

// Without the installed example (a build tree), the hint carries the rule itself; it must be the shipped rule.
TEST(UinputHint, TheInlineRuleIsTheShippedRule) {
    QFile file(QStringLiteral(TAVLO_TEST_DATA_DIR "/../../packaging/60-tavlo-uinput.rules"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
    QString rule;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n'))
        if (!line.startsWith(u'#') && !line.trimmed().isEmpty())
            rule = line.trimmed();
    ASSERT_FALSE(rule.isEmpty());
    const QString hint =
        PermissionHints::forUinput("/dev/uinput", Device{true, false, "root", "root", false, false, 0600}, {});
    EXPECT_TRUE(hint.contains("echo '" + rule + "' | sudo tee /etc/udev/rules.d/60-tavlo-uinput.rules"))
        << hint.toStdString() << "\nshipped rule: " << rule.toStdString();
}

// inspect() as an unprivileged user sees what that user may do: run in a child that drops root's privileges.
QString inspectAsNobody(const QString& path) {
    int fds[2];
    if (::pipe(fds) != 0)
        return "pipe failed";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        QString text = "fail";
        if (::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
            ::setresuid(65534, 65534, 65534) == 0) {
            const Device d = PermissionHints::inspect(path);
            text = QStringLiteral("%1 %2 %3 %4 %5 %6")
                       .arg(d.exists)
                       .arg(d.usable)
                       .arg(d.owner, d.group)
                       .arg(d.groupMayUse)
                       .arg(QString::number(d.mode, 8));
        }
        const QByteArray bytes = text.toUtf8();
        [[maybe_unused]] const ssize_t n = ::write(fds[1], bytes.constData(), static_cast<size_t>(bytes.size()));
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray out;
    char buf[256];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        out.append(buf, n);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return QString::fromUtf8(out);
}

TEST(PermissionInspection, AnUnprivilegedUserIsRefusedWhatOnlyRootMayUse) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to create files for another user and to drop to an unprivileged one";
    QTemporaryDir dir;
    ASSERT_TRUE(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    const QString closed = dir.filePath("closed");
    const QString open = dir.filePath("open");
    for (const QString& path : {closed, open}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    ASSERT_EQ(::chmod(QFile::encodeName(closed).constData(), 0600), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(open).constData(), 0666), 0);

    EXPECT_EQ(inspectAsNobody(closed), "1 0 root root 0 600");
    EXPECT_EQ(inspectAsNobody(open), "1 1 root root 1 666");
    EXPECT_EQ(inspectAsNobody(dir.filePath("absent")), "0 0   0 0");
    // Root itself may use both, which is why the hint never shows for root.
    EXPECT_TRUE(PermissionHints::inspect(closed).usable);
}

} // namespace
