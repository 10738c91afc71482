#pragma once

#include "platform/GlobalHotkey.h"

#include <QKeyCombination>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;

namespace tavlo {

// The desktop-wide key combination that asks the instrument for a reading: the setting's text ("Ctrl+Alt+W")
// as a combination of the desktop, taken while a run goes on. pressed() comes once the user has let go of the
// combination's keys, since keys typed while Ctrl or Alt is still held would combine with them (and on X11
// would go to the grab that lasts while the key is down).
class RequestHotkey : public QObject {
    Q_OBJECT
public:
    using Factory = std::function<std::unique_ptr<platform::GlobalHotkey>(const platform::HotkeyChord& chord,
                                                                          std::function<void()> pressed)>;

    // The desktop's hotkeys, or another factory (tests).
    explicit RequestHotkey(Factory factory = {}, QObject* parent = nullptr);
    ~RequestHotkey() override;

    // The combination of a setting, when it is one a hotkey may be; else none and why, for the user.
    static std::optional<QKeyCombination> combinationOf(const QString& setting, QString* why);
    static std::optional<platform::HotkeyChord> chordOf(QKeyCombination combination, QString* why);
    // The setting's text of a combination, and the combination in the desktop's words.
    static QString settingText(QKeyCombination combination);
    static QString shownText(const QString& setting);

    // Takes the combination of the setting; false with the message for the user when it cannot be had (held
    // by another program, no global keys in this session, not a combination): the setting itself stays.
    bool take(const QString& setting, QString* message);
    void release();
    bool isTaken() const { return m_hotkey != nullptr; }
    // Whether the combination could be taken now, without keeping it; the message when not.
    bool check(const QString& setting, QString* message);

    // The wait for the keys to be let go: every tickMs, for at most maxTicks ticks (then the request goes anyway).
    static constexpr int kTickMs = 20;
    static constexpr int kMaxTicks = 150;

signals:
    void pressed();

private:
    std::unique_ptr<platform::GlobalHotkey> create(const QString& setting, QString* message);
    void platformPressed();
    void releaseTick();

    Factory m_factory;
    std::unique_ptr<platform::GlobalHotkey> m_hotkey;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_releaseTimer;
    int m_ticks = 0;
};

} // namespace tavlo
