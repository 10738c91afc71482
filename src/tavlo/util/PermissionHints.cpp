#include "tavlo/util/PermissionHints.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tavlo::util {

namespace {

const QString kUinput = QStringLiteral("/dev/uinput");
const QString kRuleName = QStringLiteral("60-tavlo-uinput.rules");
const QString kRule =
    QStringLiteral(R"(KERNEL=="uinput", SUBSYSTEM=="misc", OPTIONS+="static_node=uinput", TAG+="uaccess")");

QString groupName(gid_t gid) {
    if (const group* g = ::getgrgid(gid))
        return QString::fromLocal8Bit(g->gr_name);
    return QString::number(gid);
}

QString userName(uid_t uid) {
    if (const passwd* p = ::getpwuid(uid))
        return QString::fromLocal8Bit(p->pw_name);
    return QString::number(uid);
}

bool sessionHasGroup(gid_t gid) {
    if (::getegid() == gid)
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int n = ::getgroups(count, groups.data());
    for (int i = 0; i < n; ++i)
        if (groups[static_cast<std::size_t>(i)] == gid)
            return true;
    return false;
}

// Whether the group database lists the user in the group: true after `usermod -aG` even before the next login.
bool databaseListsUser(gid_t gid) {
    const passwd* p = ::getpwuid(::geteuid());
    if (!p)
        return false;
    const std::string name = p->pw_name;
    const gid_t primary = p->pw_gid;
    int count = 32;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (::getgrouplist(name.c_str(), primary, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (::getgrouplist(name.c_str(), primary, groups.data(), &count) < 0)
            return false;
    }
    for (int i = 0; i < count; ++i)
        if (groups[static_cast<std::size_t>(i)] == gid)
            return true;
    return false;
}

} // namespace

PermissionHints::Device PermissionHints::inspect(const QString& path) {
    Device device;
    struct stat st {};
    const QByteArray name = QFile::encodeName(path);
    if (::stat(name.constData(), &st) != 0)
        return device;
    device.exists = true;
    device.usable = ::faccessat(AT_FDCWD, name.constData(), R_OK | W_OK, AT_EACCESS) == 0;
    device.owner = userName(st.st_uid);
    device.group = groupName(st.st_gid);
    device.groupMayUse = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    device.listedInGroup = !sessionHasGroup(st.st_gid) && databaseListsUser(st.st_gid);
    device.mode = st.st_mode & 07777;
    return device;
}

QString PermissionHints::forSerialPort(const QString& path) {
    if (!path.startsWith(u'/'))
        return {};
    return forSerialPort(path, inspect(path));
}

QString PermissionHints::forSerialPort(const QString& path, const Device& device) {
    if (!device.exists || device.usable)
        return {};
    // A group that may use the device, other than root's own, is the usual way in (dialout on Debian).
    if (device.groupMayUse && device.group != QLatin1String("root")) {
        if (device.listedInGroup)
            return QStringLiteral("You were added to the group '%1', which may use this port, after this session "
                                  "began: log out and in again.")
                .arg(device.group);
        return QStringLiteral("Members of the group '%1' may use this port: sudo usermod -aG %1 $USER, then log in "
                              "again.")
            .arg(device.group);
    }
    return QStringLiteral("Only %1 may use %2 (owner '%1', group '%3', mode %4): an administrator can give access "
                          "with a udev rule for the device.")
        .arg(device.owner, path, device.group, QString::number(device.mode, 8).rightJustified(4, u'0'));
}

QString PermissionHints::forKeyboardFailure() {
    // The X11 and Wayland backends chosen explicitly never need uinput.
    const QByteArray chosen = qgetenv("TAVLO_KEYBOARD_BACKEND");
    if (chosen == "wayland")
        return forWaylandBackend();
    if (!chosen.isEmpty() && chosen != "uinput")
        return {};
    return forUinput(kUinput, inspect(kUinput), installedUdevRule());
}

std::string PermissionHints::withKeyboardHint(const std::string& failure) {
    const QString hint = forKeyboardFailure();
    return hint.isEmpty() ? failure : failure + '\n' + hint.toStdString();
}

QString PermissionHints::forWaylandBackend() {
    return QStringLiteral("The wayland keyboard backend needs a compositor that offers the virtual keyboard protocol "
                          "(Sway, Hyprland, river, Wayfire and the other wlroots compositors). GNOME and KDE do not: "
                          "there leave TAVLO_KEYBOARD_BACKEND unset, and Tavlo types through /dev/uinput.");
}

QString PermissionHints::forUinput(const QString& path, const Device& device, const QString& udevRule) {
    if (!device.exists)
        return QStringLiteral(
                   "Typing on a Wayland desktop without the virtual keyboard protocol (GNOME, KDE) needs %1, "
                   "which does not exist: load its module with sudo modprobe "
                   "uinput, and at every start with: echo uinput | sudo tee "
                   "/etc/modules-load.d/uinput.conf")
            .arg(path);
    if (device.usable)
        return {};
    const QString install = udevRule.isEmpty()
                                ? QStringLiteral("echo '%1' | sudo tee /etc/udev/rules.d/%2").arg(kRule, kRuleName)
                                : QStringLiteral("sudo install -m 644 %1 /etc/udev/rules.d/").arg(udevRule);
    return QStringLiteral("Typing on a Wayland desktop without the virtual keyboard protocol (GNOME, KDE) needs "
                          "write access to %1 (owner '%2', group '%3', mode %4). A udev "
                          "rule gives it to the user at the desktop; install it with: %5 && sudo udevadm trigger "
                          "--sysname-match=uinput")
        .arg(path, device.owner, device.group, QString::number(device.mode, 8).rightJustified(4, u'0'), install);
}

QString PermissionHints::installedUdevRule() {
    // Installed, the documentation lies beside the program's folder; in the build tree there is none.
    if (!QCoreApplication::instance())
        return {};
    const QString rule =
        QCoreApplication::applicationDirPath() + QStringLiteral("/" TAVLO_DOCDIR_FROM_BINDIR "/examples/") + kRuleName;
    const QFileInfo info(rule);
    return info.exists() ? info.canonicalFilePath() : QString();
}

} // namespace tavlo::util
