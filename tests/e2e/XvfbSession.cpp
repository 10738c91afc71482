#include "XvfbSession.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tavlo::test {

namespace {

using Clock = std::chrono::steady_clock;

// The first viewable top-level window, or 0.
Window viewableWindow(Display* display) {
    Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (XQueryTree(display, root, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !found; ++i) {
            XWindowAttributes attributes;
            if (XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable &&
                attributes.width > 10)
                found = children[i];
        }
        if (children)
            XFree(children);
    }
    return found;
}

std::string windowTitle(Display* display, Window window) {
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &items, &after, &data) ==
            Success &&
        data) {
        title.assign(reinterpret_cast<const char*>(data), items);
        XFree(data);
    }
    if (title.empty()) {
        char* name = nullptr;
        if (XFetchName(display, window, &name) && name) {
            title = name;
            XFree(name);
        }
    }
    return title;
}

// Runs fn with a connection to the display; false when it cannot be opened.
template <typename F> bool withDisplay(const std::string& name, F fn) {
    Display* display = XOpenDisplay(name.c_str());
    if (!display)
        return false;
    fn(display);
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

} // namespace

unsigned long XvfbSession::findWindow(const std::string& title, int timeoutMs) const {
    Window found = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!found && Clock::now() < deadline) {
        withDisplay(m_display, [&](Display* display) {
            Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
            unsigned count = 0;
            if (!XQueryTree(display, root, &root, &parent, &children, &count))
                return;
            for (unsigned i = 0; i < count && !found; ++i) {
                XWindowAttributes attributes;
                if (XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable &&
                    windowTitle(display, children[i]) == title)
                    found = children[i];
            }
            if (children)
                XFree(children);
        });
        if (!found)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return found;
}

int XvfbSession::countWindows(const std::string& title) const {
    int count = 0;
    withDisplay(m_display, [&](Display* display) {
        Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
        unsigned n = 0;
        if (!XQueryTree(display, root, &root, &parent, &children, &n))
            return;
        for (unsigned i = 0; i < n; ++i) {
            XWindowAttributes attributes;
            if (XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable &&
                windowTitle(display, children[i]) == title)
                ++count;
        }
        if (children)
            XFree(children);
    });
    return count;
}

void XvfbSession::focus(unsigned long window) const {
    withDisplay(m_display,
                [&](Display* display) { XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime); });
}

void XvfbSession::pressKey(const std::string& keysym) const {
    withDisplay(m_display, [&](Display* display) {
        const KeyCode code = XKeysymToKeycode(display, XStringToKeysym(keysym.c_str()));
        XTestFakeKeyEvent(display, code, True, CurrentTime);
        XTestFakeKeyEvent(display, code, False, CurrentTime);
    });
}

void XvfbSession::requestClose(unsigned long window) const {
    withDisplay(m_display, [&](Display* display) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, window, False, NoEventMask, &event);
    });
}

bool XvfbSession::isViewable(unsigned long window) const {
    bool viewable = false;
    withDisplay(m_display, [&](Display* display) {
        XWindowAttributes attributes;
        viewable = XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
    });
    return viewable;
}

pid_t XvfbSession::spawn(const std::vector<std::string>& argv, int keepFd, const std::vector<std::string>& env) {
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    // Child: only stdin/stdout/stderr and the one descriptor asked for survive.
    for (int fd = 3; fd < 1024; ++fd)
        if (fd != keepFd)
            ::close(fd);
    const int devNull = ::open("/dev/null", O_RDWR);
    if (devNull >= 0) {
        dup2(devNull, 0);
        dup2(devNull, 1);
        dup2(devNull, 2);
    }
    for (const std::string& e : env)
        putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

void XvfbSession::stop(pid_t pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

XvfbSession::XvfbSession() {
    char pattern[] = "/tmp/tavlo-xvfb-XXXXXX";
    if (!mkdtemp(pattern)) {
        m_error = "mkdtemp failed";
        return;
    }
    m_dir = pattern;
    int fds[2];
    if (pipe(fds) != 0) {
        m_error = "pipe failed";
        return;
    }
    // -displayfd makes the server pick a free display number and tell us which.
    m_server = spawn(
        {"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp", "-screen", "0", "1024x768x24", "-noreset"},
        fds[1], {});
    ::close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < deadline && number.find('\n') == std::string::npos) {
        if (poll(&p, 1, 100) > 0) {
            char buffer[32];
            const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            number.append(buffer, static_cast<size_t>(n));
        }
    }
    ::close(fds[0]);
    if (number.find('\n') == std::string::npos) {
        m_error = "Xvfb did not start";
        return;
    }
    number.resize(number.find('\n'));
    m_display.push_back(':');
    m_display.append(number);
    m_ok = true;
}

XvfbSession::~XvfbSession() {
    closeTerminal();
    stop(m_server);
    if (!m_dir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
}

std::string XvfbSession::openTerminal(const std::string& command) {
    closeTerminal();
    const std::string file = m_dir + "/typed" + std::to_string(++m_terminals) + ".txt";
    m_terminal = spawn({"xterm", "-display", m_display, "-geometry", "100x30+0+0", "-e", "sh", "-c", command}, -1,
                       {"OUT=" + file, "LC_ALL=C.UTF-8"});
    Display* display = XOpenDisplay(m_display.c_str());
    if (!display) {
        m_error = "cannot open " + m_display;
        return std::string();
    }
    Window window = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (!window && Clock::now() < deadline) {
        window = viewableWindow(display);
        if (!window)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (window) {
        // No window manager: the keyboard focus follows the pointer.
        XWarpPointer(display, None, window, 0, 0, 0, 0, 50, 50);
        XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
        XSync(display, False);
    }
    XCloseDisplay(display);
    m_terminalWindow = window;
    if (!window) {
        m_error = "xterm did not appear";
        return std::string();
    }
    // The file appears once the shell runs cat; keys typed before that would wait in the terminal anyway.
    for (int i = 0; i < 3000 && !std::filesystem::exists(file); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return file;
}

void XvfbSession::closeTerminal() {
    stop(m_terminal);
    m_terminal = -1;
    m_terminalWindow = 0;
}

std::string XvfbSession::waitForContent(const std::string& path, size_t size, int timeoutMs) {
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

std::string XvfbSession::autoRepeats() const {
    Display* display = XOpenDisplay(m_display.c_str());
    if (!display)
        return std::string();
    XKeyboardState state{};
    XGetKeyboardControl(display, &state);
    XCloseDisplay(display);
    return std::string(state.auto_repeats, state.auto_repeats + 32);
}

void XvfbSession::killServer() {
    if (m_server <= 0)
        return;
    kill(m_server, SIGKILL);
    waitpid(m_server, nullptr, 0);
    m_server = -1;
}

int XvfbSession::run(const std::vector<std::string>& argv) {
    const pid_t pid = spawn(argv, -1, {"DISPLAY=" + m_display});
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace tavlo::test
