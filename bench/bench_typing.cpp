// Typing speed into a real terminal: the X11 backend into xterm running cat on a private Xvfb, against xdotool
// typing the same text; the Wayland backend into foot on headless Sway, against wtype in the same window. 10,000
// characters of digits, point, minus and letters in lines of 80, each followed by Enter (a terminal in canonical
// mode keeps at most 4,095 characters of one line).
#include "SwaySession.h"
#include "XvfbSession.h"
#include "platform/KeyCodes.h"
#include "platform/keyboard/wayland/WaylandKeyboard.h"
#include "platform/keyboard/x11/XTestKeyboard.h"
#include "worker/Keybot.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using tavlo::test::XvfbSession;
using KT = tavlo::config::ConfigHelper::KeyboardType;
using KMT = tavlo::config::ConfigHelper::KeyMapType;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kCharacters = 10000;
constexpr size_t kLine = 80;

std::vector<std::string> makeLines() {
    static const std::string alphabet = "0123456789.-abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::vector<std::string> lines;
    std::string line;
    unsigned seed = 12345;
    for (size_t i = 0; i < kCharacters; ++i) {
        seed = seed * 1103515245u + 12345u;
        line += alphabet[(seed >> 16) % alphabet.size()];
        if (line.size() == kLine) {
            lines.push_back(line);
            line.clear();
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& l : lines)
        all += l + "\n";
    return all;
}

// Characters of `expected` that do not come out in order in `actual` (lost, or overtaken by a later one).
size_t lostCharacters(const std::string& expected, const std::string& actual) {
    size_t matched = 0;
    for (char c : actual)
        if (matched < expected.size() && expected[matched] == c)
            ++matched;
    return expected.size() - matched;
}

struct Result {
    double charsPerSecond = 0;
    size_t lost = 0;
    bool ok = false;
};

Result typeWithKeybot(XvfbSession& session, const std::vector<std::string>& lines) {
    Result r;
    const std::string file = session.openTerminal();
    if (file.empty())
        return r;
    const std::string expected = joined(lines);
    auto keybot = std::make_shared<tavlo::worker::Keybot>(
        0, 0, tavlo::platform::KeyCode::ENTER, 0, 0, &KT::QUERTY, KMT::ALPHANUMERIC_COMPLETE, nullptr,
        std::make_unique<tavlo::platform::XTestKeyboard>(session.display()));
    const auto start = Clock::now();
    for (const std::string& line : lines) {
        keybot->typeString(QString::fromStdString(line));
        keybot->typeEnd();
    }
    const std::string actual = XvfbSession::waitForContent(file, expected.size(), 120000);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    r.charsPerSecond = static_cast<double>(kCharacters) / seconds;
    r.lost = lostCharacters(expected, actual);
    r.ok = actual == expected;
    session.closeTerminal();
    return r;
}

Result typeWithXdotool(XvfbSession& session, const std::vector<std::string>& lines) {
    Result r;
    const std::string file = session.openTerminal();
    if (file.empty())
        return r;
    const std::string expected = joined(lines);
    const auto start = Clock::now();
    session.run({"xdotool", "type", "--delay", "0", expected});
    const std::string actual = XvfbSession::waitForContent(file, expected.size(), 120000);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    r.charsPerSecond = static_cast<double>(kCharacters) / seconds;
    r.lost = lostCharacters(expected, actual);
    r.ok = actual == expected;
    session.closeTerminal();
    return r;
}

void BM_TypingX11(benchmark::State& state) {
    XvfbSession session;
    if (!session.ok()) {
        state.SkipWithError(session.error().c_str());
        return;
    }
    const auto lines = makeLines();
    Result ours, xdotool;
    for (auto _ : state) {
        ours = typeWithKeybot(session, lines);
        xdotool = typeWithXdotool(session, lines);
    }
    state.counters["typing_chars_per_s"] = ours.charsPerSecond;
    state.counters["typing_lost"] = static_cast<double>(ours.lost);
    state.counters["xdotool_chars_per_s"] = xdotool.charsPerSecond;
    std::printf("typing_chars_per_s: %.0f\ntyping_lost: %zu\nxdotool_chars_per_s: %.0f\n", ours.charsPerSecond,
                ours.lost, xdotool.charsPerSecond);
    std::printf("typing_exact: %s\nxdotool_lost: %zu\n", ours.ok ? "yes" : "no", xdotool.lost);
    if (!ours.ok)
        state.SkipWithError("the typed text differs from the sent text");
}

BENCHMARK(BM_TypingX11)->Iterations(1)->Unit(benchmark::kMillisecond);

// The keyboard output's own thread types the lines as queued values, as in a run; the terminal's file grows from
// `before` to the expected text.
Result typeWithWaylandKeyboard(tavlo::test::SwaySession& session, const std::string& file,
                               const std::vector<std::string>& lines) {
    Result r;
    const std::string expected = joined(lines);
    tavlo::worker::Keybot::clearQueue();
    auto keybot = std::make_shared<tavlo::worker::Keybot>(
        0, 0, tavlo::platform::KeyCode::ENTER, 0, 0, &KT::QUERTY, KMT::ALPHANUMERIC_COMPLETE, nullptr,
        std::make_unique<tavlo::platform::WaylandKeyboard>("QUERTY", session.runtimeDir() + "/" + session.display()));
    keybot->start();
    const auto start = Clock::now();
    for (const std::string& line : lines)
        tavlo::worker::Keybot::add(QString::fromStdString(line));
    const std::string actual = tavlo::test::SwaySession::waitForContent(file, expected.size(), 120000);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    keybot->interrupt();
    keybot->waitFinished(10000);
    r.charsPerSecond = static_cast<double>(kCharacters) / seconds;
    r.lost = lostCharacters(expected, actual);
    r.ok = actual == expected;
    return r;
}

// wtype in the same window, after what the keyboard output typed (`typedBefore`).
Result typeWithWtype(tavlo::test::SwaySession& session, const std::string& file, const std::string& typedBefore,
                     const std::vector<std::string>& lines) {
    Result r;
    const std::string text = joined(lines);
    const auto start = Clock::now();
    session.run({"wtype", text});
    const std::string actual = tavlo::test::SwaySession::waitForContent(file, typedBefore.size() + text.size(), 300000);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const std::string own = actual.size() >= typedBefore.size() ? actual.substr(typedBefore.size()) : std::string();
    r.charsPerSecond = static_cast<double>(kCharacters) / seconds;
    r.lost = lostCharacters(text, own);
    r.ok = own == text;
    return r;
}

void BM_TypingWayland(benchmark::State& state) {
    tavlo::test::SwaySession session;
    if (!session.ok()) {
        state.SkipWithError(session.error().c_str());
        return;
    }
    const std::string file = session.openTerminal();
    if (file.empty()) {
        state.SkipWithError(session.error().c_str());
        return;
    }
    const auto lines = makeLines();
    Result ours, wtype;
    for (auto _ : state) {
        ours = typeWithWaylandKeyboard(session, file, lines);
        wtype = typeWithWtype(session, file, tavlo::test::SwaySession::waitForContent(file, 0, 0), lines);
    }
    state.counters["wayland_chars_per_s"] = ours.charsPerSecond;
    state.counters["wayland_lost"] = static_cast<double>(ours.lost);
    state.counters["wtype_chars_per_s"] = wtype.charsPerSecond;
    std::printf("wayland_chars_per_s: %.0f\nwayland_lost: %zu\nwtype_chars_per_s: %.0f\n", ours.charsPerSecond,
                ours.lost, wtype.charsPerSecond);
    std::printf("wayland_exact: %s\nwtype_lost: %zu\n", ours.ok ? "yes" : "no", wtype.lost);
    if (!ours.ok)
        state.SkipWithError("the typed text differs from the sent text");
}

BENCHMARK(BM_TypingWayland)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
