#pragma once

#include "config/ConfigHelper.h"
#include "config/KeyMaps.h"
#include "platform/KeyboardDevice.h"

#include <QString>
#include <chrono>
#include <memory>

namespace tavlo::worker {

class WeightWorkerView;

// Types values into the focused application, one after the other, on a thread of its own: an optional start
// key, each character through the key map of the configured layout, then the terminator (every X-th value the
// second terminator). Values come from one process-wide queue that outlives each Keybot, so values that were
// not typed before a Stop are typed by the next Start.
class Keybot : public std::enable_shared_from_this<Keybot> {
public:
    // Fails with KeyboardError when the device could not be prepared (no device given).
    Keybot(int keyDelay, int startWith, int endWith, int endWith2, int everyXValues,
           const config::ConfigHelper::KeyboardType* keyboardType, config::ConfigHelper::KeyMapType keyMapType,
           WeightWorkerView* view, std::unique_ptr<platform::KeyboardDevice> device);
    ~Keybot();
    Keybot(const Keybot&) = delete;
    Keybot& operator=(const Keybot&) = delete;

    // Queues a value for typing; empty values are dropped. Never blocks. Returns the line to log (important) when
    // typing has just fallen behind: the oldest queued value has waited longer than the backlog limit (the
    // keyboard thread itself logs that when it takes a value, and when the queue has caught up).
    static QString add(const QString& value);
    static qsizetype queuedCount();
    // True from the moment typing fell behind until the queue is empty again.
    static bool isBehind();
    // How long the oldest value may wait before typing counts as behind: 5 s; tests shorten it.
    static void setBacklogLimit(std::chrono::milliseconds limit);
    // About how long typing the queued values takes at that key delay (a press and a release per key).
    static qint64 queuedTypingMs(int keyDelay);
    // Drops every queued value (tests start from an empty queue).
    static void clearQueue();

    // Starts the keyboard thread, which keeps this object alive until it ends. The thread types nothing
    // before the thread of the previous Keybot has ended, so that two values never interleave.
    void start();
    // Asks the thread to end: a wait for the next value ends at once, a value being typed is finished first.
    void interrupt();
    bool isInterrupted() const;
    // Waits until the thread has ended; false after the time-out. Never call it on the GUI thread.
    bool waitFinished(int timeoutMs);
    // Waits until every keyboard thread started so far has ended and released its Keybot (and thus its device);
    // false after the time-out. Called before the process ends, once the runs were interrupted; the keyboard
    // threads never wait for the GUI thread, so the GUI thread may call it.
    static bool waitForAllThreads(int timeoutMs);

    // The thread body: types queued values until interrupted, or until the desktop is lost (KeyboardLost from the
    // device: reported once, the thread ends and the view's keyboardLost is called).
    void run();
    void typeStart();
    void typeString(const QString& value);
    void typeEnd();

    bool isCapsLockOn();
    const config::KeyMap& keyMap() const { return m_keyMap; }

private:
    void typeAltSequence(char32_t character, const QList<int>& codes);
    void typeChord(const QList<int>& codes);
    void tapKey(int code);
    void pause();
    void report(const QString& text);
    void desktopLost(const QString& value, const platform::KeyboardLost& lost);

    WeightWorkerView* m_view;
    int m_keyDelay;
    int m_endWith;
    int m_endWith2;
    int m_everyXValues;
    int m_numCounter = 0;
    int m_startWith;
    config::KeyMap m_keyMap;
    QString m_keyboardType;
    std::unique_ptr<platform::KeyboardDevice> m_device;

public:
    struct Run; // the state of one keyboard thread, shared with the keyboard output's lock

private:
    std::shared_ptr<Run> m_run;
};

} // namespace tavlo::worker
