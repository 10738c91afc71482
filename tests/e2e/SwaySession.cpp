#include "SwaySession.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tavlo::test {

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// The unprivileged user of a root test run: nobody.
constexpr uid_t kNobody = 65534;

bool makeFolder(const std::string& path, mode_t mode, uid_t uid, gid_t gid) {
    return ::mkdir(path.c_str(), mode) == 0 && ::chmod(path.c_str(), mode) == 0 && ::chown(path.c_str(), uid, gid) == 0;
}

// The focused node of a compositor tree, searched depth first.
QString focusedAppIn(const QJsonObject& node) {
    if (node.value("focused").toBool())
        return node.value("app_id").toString();
    for (const char* children : {"nodes", "floating_nodes"})
        for (const QJsonValue& child : node.value(children).toArray())
            if (const QString app = focusedAppIn(child.toObject()); !app.isEmpty())
                return app;
    return {};
}

} // namespace

SwaySession::SwaySession(const std::string& layout) {
    const bool root = ::geteuid() == 0;
    m_uid = root ? kNobody : ::geteuid();
    m_gid = root ? kNobody : ::getegid();
    char pattern[] = "/tmp/tavlo-sway-XXXXXX";
    if (!::mkdtemp(pattern)) {
        m_error = "mkdtemp failed";
        return;
    }
    m_dir = pattern;
    m_runtime = m_dir + "/run";
    m_home = m_dir + "/home";
    m_shared = m_dir + "/shared";
    // The user may pass through the session's folder but not list it; inside, the runtime folder is private to
    // the user, as a login's XDG_RUNTIME_DIR is.
    if (::chmod(m_dir.c_str(), 0711) != 0 || !makeFolder(m_runtime, 0700, m_uid, m_gid) ||
        !makeFolder(m_home, 0700, m_uid, m_gid) || !makeFolder(m_shared, 0700, m_uid, m_gid)) {
        m_error = "cannot prepare the folders of the session in " + m_dir;
        return;
    }
    const std::string config = m_dir + "/sway.config";
    {
        std::ofstream out(config);
        out << "# A bare desktop: no bar, no wallpaper, the terminal alone.\n";
        if (!layout.empty())
            out << "input * xkb_layout " << layout << "\n";
    }
    ::chmod(config.c_str(), 0644);

    m_compositor = spawn(
        asUser({"sway", "-c", config}, {"WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman"}),
        m_dir + "/sway.log");
    // Ready once the Wayland socket and the control socket are there.
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < deadline && (m_display.empty() || m_ipc.empty())) {
        if (!compositorRunning())
            break;
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(m_runtime, ignored)) {
            const std::string name = entry.path().filename();
            if (name.starts_with("wayland-") && !name.ends_with(".lock") && entry.is_socket())
                m_display = name;
            if (name.starts_with("sway-ipc.") && entry.is_socket())
                m_ipc = entry.path();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (m_display.empty() || m_ipc.empty()) {
        std::ifstream log(m_dir + "/sway.log");
        std::stringstream text;
        text << log.rdbuf();
        m_error = "sway did not start: " + text.str();
        return;
    }
    m_ok = true;
}

SwaySession::~SwaySession() {
    closeTerminal();
    stop(m_compositor);
    if (!m_dir.empty()) {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
}

std::vector<std::string> SwaySession::asUser(const std::vector<std::string>& argv,
                                             const std::vector<std::string>& environment) const {
    std::vector<std::string> command;
    if (::geteuid() == 0)
        command = {"setpriv", "--reuid=" + std::to_string(m_uid), "--regid=" + std::to_string(m_gid), "--clear-groups"};
    // Nothing of the test's own environment (DISPLAY, a backend choice) leaks into the desktop.
    command.insert(command.end(),
                   {"env", "-i", "PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin", "HOME=" + m_home,
                    "XDG_CONFIG_HOME=" + m_home + "/.config", "XDG_RUNTIME_DIR=" + m_runtime, "LC_ALL=C.UTF-8"});
    if (!m_display.empty())
        command.push_back("WAYLAND_DISPLAY=" + m_display);
    if (!m_ipc.empty())
        command.push_back("SWAYSOCK=" + m_ipc);
    command.insert(command.end(), environment.begin(), environment.end());
    command.insert(command.end(), argv.begin(), argv.end());
    return command;
}

pid_t SwaySession::spawn(const std::vector<std::string>& argv, const std::string& logFile) const {
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    for (int fd = 3; fd < 1024; ++fd)
        ::close(fd);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in >= 0)
        ::dup2(in, 0);
    if (out >= 0) {
        ::dup2(out, 1);
        ::dup2(out, 2);
    }
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
}

void SwaySession::stop(pid_t pid) {
    if (pid <= 0)
        return;
    if (::waitpid(pid, nullptr, WNOHANG) == pid)
        return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 300; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

bool SwaySession::compositorRunning() const {
    return m_compositor > 0 && ::waitpid(m_compositor, nullptr, WNOHANG) == 0;
}

void SwaySession::killCompositor() {
    if (m_compositor <= 0)
        return;
    ::kill(m_compositor, SIGKILL);
    ::waitpid(m_compositor, nullptr, 0);
    m_compositor = -1;
}

std::string SwaySession::focusedApp() const {
    const std::vector<std::string> argv = asUser({"swaymsg", "-r", "-t", "get_tree"});
    QStringList args;
    for (size_t i = 1; i < argv.size(); ++i)
        args << QString::fromStdString(argv[i]);
    QProcess p;
    p.start(QString::fromStdString(argv[0]), args);
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(2000);
        return {};
    }
    return focusedAppIn(QJsonDocument::fromJson(p.readAllStandardOutput()).object()).toStdString();
}

std::string SwaySession::openTerminal() {
    closeTerminal();
    const std::string file = m_shared + "/typed" + std::to_string(++m_terminals) + ".txt";
    m_terminal = spawn(asUser({"foot", "sh", "-c", "cat > \"$OUT\""}, {"OUT=" + file}),
                       m_dir + "/foot" + std::to_string(m_terminals) + ".log");
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    bool focused = false;
    while (Clock::now() < deadline && !(focused && fs::exists(file))) {
        if (::waitpid(m_terminal, nullptr, WNOHANG) == m_terminal) {
            m_terminal = -1;
            m_error = "foot ended at once; see " + m_dir + "/foot" + std::to_string(m_terminals) + ".log";
            return {};
        }
        focused = focused || focusedApp() == "foot";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!focused || !fs::exists(file)) {
        m_error = focused ? "cat did not start in foot" : "the foot window did not get the focus";
        return {};
    }
    return file;
}

void SwaySession::closeTerminal() {
    stop(m_terminal);
    m_terminal = -1;
}

int SwaySession::run(const std::vector<std::string>& argv) const {
    const pid_t pid = spawn(asUser(argv), m_dir + "/run.log");
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string SwaySession::exposeProgram(const std::string& program, const std::vector<std::string>& besides) {
    const std::string bin = m_dir + "/bin";
    std::error_code error;
    if (!fs::exists(bin) && !makeFolder(bin, 0755, ::geteuid(), ::getegid()))
        return {};
    const fs::path from = fs::path(program).parent_path();
    for (const std::string& name : besides) {
        fs::copy_file(from / name, fs::path(bin) / name, fs::copy_options::overwrite_existing, error);
        if (error)
            return {};
        ::chmod((bin + "/" + name).c_str(), 0755);
    }
    const std::string copy = bin + "/" + fs::path(program).filename().string();
    fs::copy_file(program, copy, fs::copy_options::overwrite_existing, error);
    if (error)
        return {};
    ::chmod(copy.c_str(), 0755);
    return copy;
}

std::string SwaySession::waitForContent(const std::string& path, size_t size, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string content;
    for (;;) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream buffer;
        buffer << in.rdbuf();
        content = buffer.str();
        if (content.size() >= size || Clock::now() >= deadline)
            return content;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace tavlo::test
