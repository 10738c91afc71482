#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace tavlo::test {

// A private Wayland desktop for typing tests: headless Sway, run as the unprivileged user nobody when the test
// runs as root (Sway refuses to run as root), with a runtime folder of its own, and a foot terminal running
// `cat > FILE`. Programs under test run as the same user. Everything it starts is stopped by its process id, and
// its files are removed, when it is destroyed.
class SwaySession {
public:
    // `layout`: the compositor's keyboard layout (`input * xkb_layout`), empty for Sway's default (us).
    explicit SwaySession(const std::string& layout = std::string());
    ~SwaySession();
    SwaySession(const SwaySession&) = delete;
    SwaySession& operator=(const SwaySession&) = delete;

    bool ok() const { return m_ok; }
    const std::string& error() const { return m_error; }
    // WAYLAND_DISPLAY and XDG_RUNTIME_DIR of the compositor.
    const std::string& display() const { return m_display; }
    const std::string& runtimeDir() const { return m_runtime; }
    // The user the desktop and the programs under test run as.
    uid_t user() const { return m_uid; }
    gid_t group() const { return m_gid; }

    // Opens foot running `cat > FILE`, waits until its window has the focus and cat runs, and returns FILE; empty
    // on failure (see error()).
    std::string openTerminal();
    void closeTerminal();

    // argv run as the session's user, with the environment of a program on this desktop (WAYLAND_DISPLAY,
    // XDG_RUNTIME_DIR, a home folder, a UTF-8 locale) and `environment` ("NAME=value") on top.
    std::vector<std::string> asUser(const std::vector<std::string>& argv,
                                    const std::vector<std::string>& environment = {}) const;
    // Runs asUser(argv) and waits for it; its exit status, -1 when it did not exit normally.
    int run(const std::vector<std::string>& argv) const;

    // A copy of a program of the build tree that the session's user may run (the tree itself may lie in a folder
    // that user cannot enter), with the files it loads from its own folder (`besides`, such as libtspWin.so)
    // copied next to it. Returns the copy's path; empty on failure.
    std::string exposeProgram(const std::string& program, const std::vector<std::string>& besides = {});
    // A folder the session's user may write and the test may read.
    const std::string& sharedDir() const { return m_shared; }

    // Ends the compositor at once, as a crash would; the terminal dies with it.
    void killCompositor();
    bool compositorRunning() const;

    // Waits until the file holds at least `size` bytes (or the time-out passes) and returns its content.
    static std::string waitForContent(const std::string& path, size_t size, int timeoutMs = 60000);

private:
    pid_t spawn(const std::vector<std::string>& argv, const std::string& logFile) const;
    static void stop(pid_t pid);
    // The focused window's app_id from the compositor's tree; empty while no window has the focus.
    std::string focusedApp() const;

    bool m_ok = false;
    std::string m_error;
    uid_t m_uid;
    gid_t m_gid;
    std::string m_dir;     // everything of the session; root's, and only traversable for the user
    std::string m_runtime; // XDG_RUNTIME_DIR, the user's, mode 0700
    std::string m_home;    // the user's, for the programs' own settings (none are written there)
    std::string m_shared;  // the terminal's file and the exposed programs
    std::string m_display;
    std::string m_ipc;
    pid_t m_compositor = -1;
    pid_t m_terminal = -1;
    int m_terminals = 0;
};

} // namespace tavlo::test
