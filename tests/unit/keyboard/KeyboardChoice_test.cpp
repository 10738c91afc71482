// Which keyboard backend is chosen, and what the event log is told about the choice.
#include "platform/Desktop.h"
#include "platform/KeyCodes.h"
#include "platform/keyboard/KeyboardChoice.h"
#include "platform/keyboard/recording/RecordingKeyboard.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <unistd.h>

using tavlo::platform::chooseKeyboard;
using tavlo::platform::KeyboardCandidate;
using tavlo::platform::KeyboardDevice;
using tavlo::platform::KeyboardError;
using tavlo::platform::RecordingKeyboard;

namespace {

// A recording device with a layout note of its own.
class NotedKeyboard : public RecordingKeyboard {
public:
    explicit NotedKeyboard(std::string note) : RecordingKeyboard(false), m_note(std::move(note)) {}
    std::string layoutNote() const override { return m_note; }

private:
    std::string m_note;
};

// One candidate: its name and, when it cannot be made, the reason; else the layout note of its device.
struct Outcome {
    std::string name;
    std::optional<std::string> failure;
    std::string note;
};

struct ChoiceCase {
    const char* title;
    std::vector<Outcome> candidates;
    std::string chosenNote; // empty: none can be made
    std::string failure;
    size_t tried; // candidates made or tried
};

void PrintTo(const ChoiceCase& c, std::ostream* os) {
    *os << c.title;
}

class KeyboardChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(KeyboardChoice, TheFirstThatCanBeMadeIsUsedAndTheOthersAreNamedWithTheirReason) {
    const ChoiceCase& c = GetParam();
    std::vector<std::string> tried;
    std::vector<KeyboardCandidate> candidates;
    for (const Outcome& o : c.candidates)
        candidates.push_back({o.name, [o, &tried]() -> std::unique_ptr<KeyboardDevice> {
                                  tried.push_back(o.name);
                                  if (o.failure)
                                      throw KeyboardError(*o.failure);
                                  return std::make_unique<NotedKeyboard>(o.note);
                              }});
    if (c.chosenNote.empty()) {
        try {
            chooseKeyboard(candidates);
            FAIL() << "a device although every candidate failed";
        } catch (const KeyboardError& e) {
            EXPECT_EQ(std::string(e.what()), c.failure);
        }
        EXPECT_EQ(tried.size(), c.tried);
        return;
    }
    const auto device = chooseKeyboard(candidates);
    EXPECT_EQ(device->layoutNote(), c.chosenNote);
    // Nothing after the chosen one is even tried: making a device takes time and may show on the desktop.
    EXPECT_EQ(tried.size(), c.tried);
}

INSTANTIATE_TEST_SUITE_P(
    Candidates, KeyboardChoice,
    ::testing::Values(
        ChoiceCase{
            "first", {{"wayland", std::nullopt, ""}, {"uinput", std::nullopt, ""}}, "Keyboard backend: wayland", "", 1},
        ChoiceCase{"second_with_note",
                   {{"wayland", "the compositor does not offer it", ""}, {"uinput", std::nullopt, "Layout: de"}},
                   "Keyboard backend: uinput (passed over: wayland: the compositor does not offer it). Layout: de",
                   "",
                   2},
        ChoiceCase{
            "third",
            {{"wayland", "WAYLAND_DISPLAY is not set", ""},
             {"x11", "DISPLAY is not set", ""},
             {"uinput", std::nullopt, ""}},
            "Keyboard backend: uinput (passed over: wayland: WAYLAND_DISPLAY is not set; x11: DISPLAY is not set)",
            "",
            3},
        ChoiceCase{"none",
                   {{"wayland", "WAYLAND_DISPLAY is not set", ""},
                    {"x11", "DISPLAY is not set", ""},
                    {"uinput", "Cannot open /dev/uinput: No such file or directory", ""}},
                   "",
                   "No keyboard backend can type here: wayland: WAYLAND_DISPLAY is not set; x11: DISPLAY is not set; "
                   "uinput: Cannot open /dev/uinput: No such file or directory",
                   3}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(KeyboardChoiceDevice, TheChosenDevicePassesEverythingOn) {
    RecordingKeyboard* inner = nullptr;
    const auto device = chooseKeyboard({{"recording", [&inner] {
                                             auto d = std::make_unique<RecordingKeyboard>(false);
                                             d->setCapsLock(true);
                                             inner = d.get();
                                             return d;
                                         }}});
    const int sequence[] = {tavlo::platform::KeyCode::LETTER_A};
    device->beginCharacter(U'a', sequence);
    device->keyPress(sequence[0]);
    device->delay(5);
    device->keyRelease(sequence[0]);
    device->endCharacter();
    EXPECT_EQ(inner->keyTrace(), "P65 D5 R65");
    EXPECT_EQ(inner->events().front().kind, RecordingKeyboard::Kind::Begin);
    EXPECT_EQ(inner->events().back().kind, RecordingKeyboard::Kind::End);
    EXPECT_TRUE(device->isCapsLockOn());
}

// The desktop's environment for one test, restored afterwards.
class DesktopEnvironment : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kNames)
            if (const char* value = std::getenv(name))
                m_saved.emplace_back(name, value);
        for (const char* name : kNames)
            unsetenv(name);
    }
    void TearDown() override {
        for (const char* name : kNames)
            unsetenv(name);
        for (const auto& [name, value] : m_saved)
            setenv(name.c_str(), value.c_str(), 1);
    }
    static std::string failureOf(const std::string& keyboardType = "QUERTY") {
        try {
            tavlo::platform::createKeyboardDevice(keyboardType);
        } catch (const KeyboardError& e) {
            return e.what();
        }
        return "(a device was made)";
    }

    static constexpr const char* kNames[] = {"TAVLO_KEYBOARD_BACKEND", "WAYLAND_DISPLAY", "DISPLAY"};
    std::vector<std::pair<std::string, std::string>> m_saved;
};

TEST_F(DesktopEnvironment, TheWaylandBackendChosenByNameNamesTheCompositorItCannotReach) {
    setenv("TAVLO_KEYBOARD_BACKEND", "wayland", 1);
    setenv("WAYLAND_DISPLAY", "/nonexistent/wayland-7", 1);
    EXPECT_EQ(failureOf(),
              "Cannot connect to the Wayland compositor /nonexistent/wayland-7: No such file or directory");
}

TEST_F(DesktopEnvironment, AnUnknownBackendNameListsTheKnownOnes) {
    setenv("TAVLO_KEYBOARD_BACKEND", "teletype", 1);
    EXPECT_EQ(failureOf(), "Unknown keyboard backend teletype (wayland, uinput or x11)");
}

// On Wayland the compositor's virtual keyboard comes first, then uinput, then X11 under XWayland; elsewhere X11
// before uinput.
TEST_F(DesktopEnvironment, WithoutAnyDesktopEveryBackendSaysWhyInTheOrderTried) {
    if (::access("/dev/uinput", F_OK) == 0)
        GTEST_SKIP() << "this machine has /dev/uinput, which would be chosen";
    const std::string uinput = "uinput: Cannot open /dev/uinput for the virtual keyboard: No such file or directory";
    EXPECT_EQ(failureOf(), "No keyboard backend can type here: wayland: WAYLAND_DISPLAY is not set; x11: DISPLAY is "
                           "not set; " +
                               uinput);
    setenv("WAYLAND_DISPLAY", "/nonexistent/wayland-7", 1);
    EXPECT_EQ(failureOf(), "No keyboard backend can type here: wayland: Cannot connect to the Wayland compositor "
                           "/nonexistent/wayland-7: No such file or directory; " +
                               uinput + "; x11: DISPLAY is not set");
}

} // namespace
