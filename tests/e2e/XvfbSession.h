#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace tavlo::test {

// A private X server (Xvfb on a display number it picks itself) with xterm windows running `cat > FILE`,
// for typing tests. Everything it starts is stopped, and its files removed, when it is destroyed.
class XvfbSession {
public:
    XvfbSession();
    ~XvfbSession();
    XvfbSession(const XvfbSession&) = delete;
    XvfbSession& operator=(const XvfbSession&) = delete;

    bool ok() const { return m_ok; }
    const std::string& error() const { return m_error; }
    // ":N"
    const std::string& display() const { return m_display; }

    // Opens an xterm running `cat > FILE` (or the given shell command, with FILE in $OUT), waits until it is
    // on screen, and puts the pointer over it so that it has the keyboard focus. Returns the file path, or
    // empty on failure (see error()).
    std::string openTerminal(const std::string& command = "cat > \"$OUT\"");
    // Ends the terminal opened last.
    void closeTerminal();
    // The window of the terminal opened last, or 0.
    unsigned long terminalWindow() const { return m_terminalWindow; }

    // The viewable top-level window with that title, waiting for it up to timeoutMs; 0 if none came.
    unsigned long findWindow(const std::string& title, int timeoutMs) const;
    // How many viewable top-level windows have that title now.
    int countWindows(const std::string& title) const;
    // Gives the window the keyboard focus (there is no window manager to do it).
    void focus(unsigned long window) const;
    // Presses and releases the key of the keysym name ("space", "Return") through XTest.
    void pressKey(const std::string& keysym) const;
    // Asks the window to close, as a window manager's close button does (WM_DELETE_WINDOW).
    void requestClose(unsigned long window) const;
    // The window is still mapped.
    bool isViewable(unsigned long window) const;
    // Waits until the file holds at least `size` bytes (or the time-out passes) and returns its content.
    static std::string waitForContent(const std::string& path, size_t size, int timeoutMs = 60000);
    // The server's per-key auto-repeat bits (32 bytes).
    std::string autoRepeats() const;
    // Ends the X server at once, as a crash would; the terminals die with it.
    void killServer();
    // Runs a program with DISPLAY set to this session and waits for it; its exit status.
    int run(const std::vector<std::string>& argv);

private:
    pid_t spawn(const std::vector<std::string>& argv, int keepFd, const std::vector<std::string>& env);
    static void stop(pid_t pid);

    bool m_ok = false;
    std::string m_error;
    std::string m_display;
    std::string m_dir;
    pid_t m_server = -1;
    pid_t m_terminal = -1;
    unsigned long m_terminalWindow = 0;
    int m_terminals = 0;
};

} // namespace tavlo::test
