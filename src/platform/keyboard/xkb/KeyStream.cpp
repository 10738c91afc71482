#include "platform/keyboard/xkb/KeyStream.h"

#include "platform/KeyCodes.h"
#include "platform/KeyboardDevice.h"

#include <set>

namespace tavlo::platform::xkb {

namespace K = KeyCode;

namespace {

// Collects the events of a stream that only simulates.
class CollectingSink : public KeySink {
public:
    void key(xkb_keycode_t keycode, bool press) override { actions.push_back({keycode, press}); }
    KeyActions actions;
};

std::string describe(char32_t c) {
    if (c >= 32 && c < 127)
        return std::string("'") + static_cast<char>(c) + "'";
    return "U+" + std::to_string(static_cast<unsigned>(c));
}

} // namespace

void KeyStream::setPlanner(const KeyPlanner& planner) {
    releaseAll();
    m_planner = &planner;
    m_faithful.clear();
}

void KeyStream::reset() {
    m_character = 0;
    m_direct = false;
    m_directTyped = false;
    m_directCode = 0;
    m_directKeys = {};
    m_controlPending = false;
    m_controlDown = false;
    m_altGrDown = false;
    m_altCode = false;
    m_altValue = 0;
    m_pressed.clear();
}

void KeyStream::releaseAll() {
    while (!m_down.empty()) {
        const xkb_keycode_t key = *m_down.rbegin();
        send(key, false);
    }
    reset();
}

void KeyStream::send(xkb_keycode_t keycode, bool press) {
    if (press) {
        m_down.insert(keycode);
    } else {
        const auto it = m_down.find(keycode);
        if (it == m_down.end())
            return; // never pressed by us (its press failed or was dropped)
        m_down.erase(it);
    }
    m_sink->key(keycode, press);
}

bool KeyStream::producesFaithfully(char32_t character, std::span<const int> sequence) {
    std::u32string cacheKey(1, character);
    for (int code : sequence)
        cacheKey += static_cast<char32_t>(code);
    if (const auto it = m_faithful.find(cacheKey); it != m_faithful.end())
        return it->second;

    // Type the sequence as the keyboard output does, without a hint, into a layout simulation.
    CollectingSink sink;
    KeyStream plain(*m_planner, sink);
    bool ok = true;
    try {
        bool deadKey = false;
        for (size_t i = 0; i < sequence.size(); ++i) {
            if (sequence[i] == K::SPACE && i > 0)
                deadKey = true;
            else
                plain.press(sequence[i]);
        }
        for (size_t i = sequence.size(); i-- > 0;)
            if (!(deadKey && sequence[i] == K::SPACE))
                plain.release(sequence[i]);
        if (deadKey) {
            plain.press(K::SPACE);
            plain.release(K::SPACE);
        }
        plain.releaseAll();
    } catch (const KeyboardError&) {
        ok = false;
    }
    ok = ok && m_planner->produce(sink.actions) == std::u32string(1, character);
    m_faithful.emplace(std::move(cacheKey), ok);
    return ok;
}

void KeyStream::begin(char32_t character, std::span<const int> sequence) {
    releaseAll();
    m_character = character;
    if (!sequence.empty() && sequence.front() != K::ALT)
        m_direct = !producesFaithfully(character, sequence);
}

void KeyStream::end() {
    releaseAll();
}

KeyStream::CharacterKeys KeyStream::pressCharacter(char32_t character) {
    CharacterKeys held;
    if (const auto chord = m_planner->chordFor(character)) {
        held.keys = *chord;
    } else if (const auto dead = m_planner->deadChordFor(character)) {
        held.keys = *dead;
        held.spaceAfter = true;
    } else {
        const xkb_keysym_t keysym = xkb_utf32_to_keysym(character);
        const KeySink::SpareKey spare = keysym == XKB_KEY_NoSymbol ? KeySink::SpareKey{} : m_sink->spareKeyFor(keysym);
        if (!spare.key)
            throw KeyboardError("No key of the keyboard layout types the character " + describe(character));
        if (spare.shift && m_planner->shiftKey())
            held.keys.push_back(m_planner->shiftKey());
        held.keys.push_back(spare.key);
    }
    for (xkb_keycode_t key : held.keys)
        send(key, true);
    return held;
}

void KeyStream::releaseCharacter(const CharacterKeys& held) {
    for (auto it = held.keys.rbegin(); it != held.keys.rend(); ++it)
        send(*it, false);
    if (held.spaceAfter) {
        send(m_planner->spaceKey(), true);
        send(m_planner->spaceKey(), false);
    }
}

void KeyStream::sendPendingControl() {
    if (!m_controlPending)
        return;
    m_controlPending = false;
    if (!m_planner->controlKey())
        throw KeyboardError("The keyboard layout has no Control key");
    send(m_planner->controlKey(), true);
    m_controlDown = true;
}

void KeyStream::press(int keyCode) {
    if (m_altCode) {
        if (keyCode >= K::NUMPAD_0 && keyCode <= K::NUMPAD_0 + 9)
            m_altValue = m_altValue * 10 + static_cast<char32_t>(keyCode - K::NUMPAD_0);
        return;
    }
    if (m_direct) {
        const bool modifier = keyCode == K::SHIFT || keyCode == K::CONTROL || keyCode == K::ALT;
        if (!m_directTyped && !modifier) {
            m_directTyped = true;
            m_directCode = keyCode;
            m_directKeys = pressCharacter(m_character);
        }
        return;
    }
    if (keyCode == K::CONTROL) {
        m_controlPending = true;
        return;
    }
    if (keyCode == K::ALT) {
        if (m_controlPending && m_planner->level3Key()) {
            m_controlPending = false;
            send(m_planner->level3Key(), true);
            m_altGrDown = true;
            return;
        }
        if (!m_controlPending) {
            m_altCode = true;
            m_altValue = 0;
            return;
        }
        // Control and Alt on a layout without AltGr: send both as they are.
    }
    sendPendingControl();
    const xkb_keycode_t key = m_planner->keyForCode(keyCode);
    if (!key)
        throw KeyboardError("No key of the keyboard layout for key code " + std::to_string(keyCode));
    send(key, true);
    m_pressed[keyCode] = key;
}

void KeyStream::release(int keyCode) {
    if (m_altCode) {
        if (keyCode == K::ALT) {
            m_altCode = false;
            const char32_t c = m_character ? m_character : m_altValue;
            if (c != 0)
                releaseCharacter(pressCharacter(c));
        }
        return;
    }
    if (m_direct) {
        if (m_directTyped && keyCode == m_directCode) {
            releaseCharacter(m_directKeys);
            m_directKeys = {};
        }
        return;
    }
    if (keyCode == K::CONTROL) {
        if (m_controlPending) {
            sendPendingControl();
            send(m_planner->controlKey(), false);
        } else if (m_controlDown) {
            send(m_planner->controlKey(), false);
        }
        m_controlPending = false;
        m_controlDown = false;
        return;
    }
    if (keyCode == K::ALT && m_altGrDown) {
        send(m_planner->level3Key(), false);
        m_altGrDown = false;
        return;
    }
    const auto it = m_pressed.find(keyCode);
    if (it == m_pressed.end())
        return; // its press failed or never came
    send(it->second, false);
    m_pressed.erase(it);
}

} // namespace tavlo::platform::xkb
