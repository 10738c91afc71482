#include "tavlo/RequestHotkey.h"

#include "platform/GlobalHotkey.h"

#include <QKeySequence>
#include <QSocketNotifier>

namespace tavlo {

using platform::HotkeyChord;
using platform::HotkeyError;

namespace {

std::optional<HotkeyChord::Named> namedKey(int key) {
    using N = HotkeyChord::Named;
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return static_cast<N>(static_cast<int>(N::F1) + (key - Qt::Key_F1));
    switch (key) {
    case Qt::Key_Space:
        return N::Space;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return N::Return;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return N::Tab;
    case Qt::Key_Escape:
        return N::Escape;
    case Qt::Key_Backspace:
        return N::Backspace;
    case Qt::Key_Insert:
        return N::Insert;
    case Qt::Key_Delete:
        return N::Delete;
    case Qt::Key_Home:
        return N::Home;
    case Qt::Key_End:
        return N::End;
    case Qt::Key_PageUp:
        return N::PageUp;
    case Qt::Key_PageDown:
        return N::PageDown;
    case Qt::Key_Left:
        return N::Left;
    case Qt::Key_Up:
        return N::Up;
    case Qt::Key_Right:
        return N::Right;
    case Qt::Key_Down:
        return N::Down;
    case Qt::Key_Print:
        return N::Print;
    case Qt::Key_Pause:
        return N::Pause;
    case Qt::Key_ScrollLock:
        return N::ScrollLock;
    default:
        return std::nullopt;
    }
}

// Keys that no application types and that may thus be taken without a modifier.
bool standsAlone(HotkeyChord::Named key) {
    using N = HotkeyChord::Named;
    return (key >= N::F1 && key <= N::F24) || key == N::Print || key == N::Pause || key == N::ScrollLock;
}

bool isModifierKey(int key) {
    return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta ||
           key == Qt::Key_AltGr || key == Qt::Key_CapsLock || key == Qt::Key_NumLock || key == Qt::Key_Super_L ||
           key == Qt::Key_Super_R || key == Qt::Key_Hyper_L || key == Qt::Key_Hyper_R;
}

} // namespace

RequestHotkey::RequestHotkey(Factory factory, QObject* parent) : QObject(parent), m_factory(std::move(factory)) {
    if (!m_factory)
        m_factory = [](const HotkeyChord& chord, std::function<void()> pressed) {
            return platform::createGlobalHotkey(chord, std::move(pressed));
        };
    m_releaseTimer.setInterval(kTickMs);
    connect(&m_releaseTimer, &QTimer::timeout, this, &RequestHotkey::releaseTick);
}

RequestHotkey::~RequestHotkey() {
    release();
}

std::optional<QKeyCombination> RequestHotkey::combinationOf(const QString& setting, QString* why) {
    const QKeySequence sequence = QKeySequence::fromString(setting, QKeySequence::PortableText);
    if (sequence.isEmpty() || sequence.count() != 1 || sequence[0].key() == Qt::Key_unknown) {
        if (why)
            *why = QStringLiteral("\"%1\" is not a key combination").arg(setting);
        return std::nullopt;
    }
    if (!chordOf(sequence[0], why))
        return std::nullopt;
    return sequence[0];
}

std::optional<HotkeyChord> RequestHotkey::chordOf(QKeyCombination combination, QString* why) {
    const auto fail = [why](const QString& text) -> std::optional<HotkeyChord> {
        if (why)
            *why = text;
        return std::nullopt;
    };
    const int key = combination.key();
    const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
    if (isModifierKey(key) || key == Qt::Key_unknown || key == 0)
        return fail(QStringLiteral("A hotkey needs a key besides the modifiers."));
    if (modifiers & Qt::KeypadModifier)
        return fail(QStringLiteral("Keys of the number pad cannot be a hotkey."));
    HotkeyChord chord;
    if (modifiers & Qt::ShiftModifier)
        chord.modifiers |= HotkeyChord::Shift;
    if (modifiers & Qt::ControlModifier)
        chord.modifiers |= HotkeyChord::Control;
    if (modifiers & Qt::AltModifier)
        chord.modifiers |= HotkeyChord::Alt;
    if (modifiers & Qt::MetaModifier)
        chord.modifiers |= HotkeyChord::Meta;
    if (key == Qt::Key_Backtab)
        chord.modifiers |= HotkeyChord::Shift;
    if (const auto named = namedKey(key)) {
        chord.named = *named;
    } else if (key > 0x20 && key < 0x110000 && key != 0x7f) {
        chord.character = static_cast<std::uint32_t>(key);
    } else {
        return fail(QStringLiteral("%1 cannot be a hotkey.").arg(QKeySequence(combination).toString()));
    }
    const unsigned strong = HotkeyChord::Control | HotkeyChord::Alt | HotkeyChord::Meta;
    if (!(chord.modifiers & strong) && !(chord.named != HotkeyChord::Named::None && standsAlone(chord.named)))
        return fail(QStringLiteral("A hotkey needs Ctrl, Alt or the logo key, or a function key: %1 would be taken "
                                   "from every application while Tavlo runs.")
                        .arg(QKeySequence(combination).toString(QKeySequence::NativeText)));
    return chord;
}

QString RequestHotkey::settingText(QKeyCombination combination) {
    return QKeySequence(combination).toString(QKeySequence::PortableText);
}

QString RequestHotkey::shownText(const QString& setting) {
    const QKeySequence sequence = QKeySequence::fromString(setting, QKeySequence::PortableText);
    return sequence.isEmpty() ? setting : sequence.toString(QKeySequence::NativeText);
}

std::unique_ptr<platform::GlobalHotkey> RequestHotkey::create(const QString& setting, QString* message) {
    const QString shown = shownText(setting);
    QString why;
    const auto combination = combinationOf(setting, &why);
    if (!combination) {
        if (message)
            *message = QStringLiteral("The hotkey setting cannot be used: %1").arg(why);
        return nullptr;
    }
    try {
        auto hotkey = m_factory(*chordOf(*combination, nullptr), [this] {
            // From the backend's thread or from dispatch(): the rest happens on this object's thread.
            QMetaObject::invokeMethod(this, &RequestHotkey::platformPressed, Qt::QueuedConnection);
        });
        if (!hotkey)
            throw HotkeyError(HotkeyError::Kind::Unavailable, "this desktop offers no hotkeys");
        return hotkey;
    } catch (const HotkeyError& failure) {
        if (!message)
            return nullptr;
        switch (failure.kind()) {
        case HotkeyError::Kind::Taken:
            *message = QStringLiteral("The hotkey %1 is held by another program, so Tavlo cannot use it. The setting "
                                      "stays; choose another combination on the Output tab, or close that program.")
                           .arg(shown);
            break;
        case HotkeyError::Kind::Unavailable:
            *message = QStringLiteral("The hotkey %1 cannot be used: %2. Bind the command \"tavlo --send request\" "
                                      "to the combination in the desktop's keyboard settings instead.")
                           .arg(shown, QString::fromStdString(failure.what()));
            break;
        default:
            *message =
                QStringLiteral("The hotkey %1 cannot be used: %2.").arg(shown, QString::fromStdString(failure.what()));
        }
        return nullptr;
    }
}

bool RequestHotkey::take(const QString& setting, QString* message) {
    release();
    m_hotkey = create(setting, message);
    if (!m_hotkey)
        return false;
    if (const int fd = m_hotkey->eventDescriptor(); fd >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
            if (m_hotkey && !m_hotkey->dispatch())
                m_notifier->setEnabled(false); // the display has gone: nothing more will come
        });
    }
    return true;
}

void RequestHotkey::release() {
    m_releaseTimer.stop();
    m_notifier.reset();
    m_hotkey.reset();
}

bool RequestHotkey::check(const QString& setting, QString* message) {
    if (m_hotkey)
        return true;
    return create(setting, message) != nullptr;
}

void RequestHotkey::platformPressed() {
    if (!m_hotkey || m_releaseTimer.isActive())
        return;
    m_ticks = 0;
    if (!m_hotkey->keysHeld()) {
        emit pressed();
        return;
    }
    m_releaseTimer.start();
}

void RequestHotkey::releaseTick() {
    if (!m_hotkey) {
        m_releaseTimer.stop();
        return;
    }
    if (m_hotkey->keysHeld() && ++m_ticks < kMaxTicks)
        return;
    m_releaseTimer.stop();
    emit pressed();
}

} // namespace tavlo
