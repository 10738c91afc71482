#include "worker/Keybot.h"

#include "base/ResourceBundle.h"
#include "platform/KeyCodes.h"
#include "worker/WeightWorkerView.h"

#include <QQueue>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace tavlo::worker {

namespace K = platform::KeyCode;

// One keyboard thread's life. Everything here, the queue included, is guarded by the one mutex of
// the keyboard output, so that an interruption wakes whatever the thread waits for.
struct Keybot::Run {
    bool interrupted = false;
    bool started = false;
    bool finished = false;
    std::shared_ptr<Run> previous;
};

namespace {

using Clock = std::chrono::steady_clock;

struct Queued {
    QString value;
    Clock::time_point at; // when it was queued
};

struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    QQueue<Queued> queue;
    bool behind = false; // the oldest value waited longer than the limit, and the queue has not emptied since
    std::chrono::milliseconds backlogLimit{5000};
    std::shared_ptr<Keybot::Run> last; // the most recently started thread
    int threads = 0;                   // keyboard threads that have not yet let go of their Keybot
};

// Never destroyed: a keyboard thread may still be finishing a value while the process exits.
Shared& shared() {
    static Shared* s = new Shared;
    return *s;
}

const base::ResourceBundle& bundle() {
    return base::ResourceBundle::getBundle(QStringLiteral("tavlo.worker.WorkerBundle"));
}

// Called with the lock held after a value was added or taken (how long it waited: `waited`): the line to log
// when typing has just fallen behind or caught up, else nothing. No timer: a quiet queue needs no watching.
QString backlogNotice(Shared& s, Clock::duration waited) {
    if (s.queue.isEmpty()) {
        if (!s.behind)
            return {};
        s.behind = false;
        return bundle().getString(QStringLiteral("keyboard.backlog.caught.up"));
    }
    const Clock::duration oldest = std::max(waited, Clock::now() - s.queue.head().at);
    if (s.behind || oldest <= s.backlogLimit)
        return {};
    s.behind = true;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(oldest).count();
    return bundle().format(QStringLiteral("keyboard.backlog"),
                           {QString::number(s.queue.size()), QString::number(seconds)});
}

QString characterText(char32_t c) {
    return QString::fromUcs4(&c, 1);
}

} // namespace

Keybot::Keybot(int keyDelay, int startWith, int endWith, int endWith2, int everyXValues,
               const config::ConfigHelper::KeyboardType* keyboardType, config::ConfigHelper::KeyMapType keyMapType,
               WeightWorkerView* view, std::unique_ptr<platform::KeyboardDevice> device)
    : m_view(view), m_keyDelay(keyDelay), m_endWith(endWith), m_endWith2(endWith2), m_everyXValues(everyXValues),
      m_startWith(startWith), m_keyMap(config::ConfigHelper::KeyboardType::getKeymap(keyboardType, keyMapType)),
      m_keyboardType(keyboardType ? keyboardType->name() : QString()), m_device(std::move(device)),
      m_run(std::make_shared<Run>()) {
    if (!m_device)
        throw platform::KeyboardError("no keyboard device");
}

Keybot::~Keybot() = default;

QString Keybot::add(const QString& value) {
    if (value.isEmpty())
        return {};
    Shared& s = shared();
    QString notice;
    {
        std::lock_guard lock(s.mutex);
        s.queue.enqueue({value, Clock::now()});
        notice = backlogNotice(s, Clock::duration::zero());
    }
    s.changed.notify_all();
    return notice;
}

qsizetype Keybot::queuedCount() {
    Shared& s = shared();
    std::lock_guard lock(s.mutex);
    return s.queue.size();
}

bool Keybot::isBehind() {
    Shared& s = shared();
    std::lock_guard lock(s.mutex);
    return s.behind;
}

void Keybot::setBacklogLimit(std::chrono::milliseconds limit) {
    Shared& s = shared();
    std::lock_guard lock(s.mutex);
    s.backlogLimit = limit;
}

qint64 Keybot::queuedTypingMs(int keyDelay) {
    Shared& s = shared();
    std::lock_guard lock(s.mutex);
    qint64 keys = 0;
    for (const Queued& queued : s.queue)
        keys += queued.value.size() + 2; // the start key and the terminator
    return keys * 2 * keyDelay;
}

void Keybot::clearQueue() {
    Shared& s = shared();
    std::lock_guard lock(s.mutex);
    s.queue.clear();
    s.behind = false;
}

void Keybot::start() {
    Shared& s = shared();
    qsizetype waiting = 0;
    {
        std::lock_guard lock(s.mutex);
        if (m_run->started)
            return;
        m_run->started = true;
        m_run->previous = s.last;
        s.last = m_run;
        waiting = s.queue.size();
    }
    if (waiting > 0) {
        const QString text =
            bundle().format(QStringLiteral("keyboard.values.still.queued"), {QString::number(waiting)});
        if (m_view)
            m_view->logEvent(text);
        else
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    }
    {
        std::lock_guard lock(s.mutex);
        ++s.threads;
    }
    try {
        std::thread([self = shared_from_this()]() mutable {
            self->run();
            // The device is closed here when this thread held the last reference; only then does the thread count
            // as ended, so that the process never exits under a keyboard device that is still being closed.
            self.reset();
            Shared& s = shared();
            {
                std::lock_guard lock(s.mutex);
                --s.threads;
            }
            s.changed.notify_all();
        }).detach();
    } catch (...) {
        // No thread: this run counts as ended, so that neither the next run nor the exit waits for it.
        {
            std::lock_guard lock(s.mutex);
            --s.threads;
            m_run->finished = true;
        }
        s.changed.notify_all();
        throw;
    }
}

bool Keybot::waitForAllThreads(int timeoutMs) {
    Shared& s = shared();
    std::unique_lock lock(s.mutex);
    return s.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return s.threads == 0; });
}

void Keybot::interrupt() {
    Shared& s = shared();
    {
        std::lock_guard lock(s.mutex);
        m_run->interrupted = true;
    }
    s.changed.notify_all();
}

bool Keybot::isInterrupted() const {
    Shared& s = shared();
    std::lock_guard lock(s.mutex);
    return m_run->interrupted;
}

bool Keybot::waitFinished(int timeoutMs) {
    Shared& s = shared();
    std::unique_lock lock(s.mutex);
    return s.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_run->finished; });
}

void Keybot::run() {
    Shared& s = shared();
    std::unique_lock lock(s.mutex);
    // The previous thread may still be typing its last value; our first key must come after its last.
    s.changed.wait(lock, [&] { return m_run->interrupted || !m_run->previous || m_run->previous->finished; });
    m_run->previous.reset();
    while (!m_run->interrupted) {
        s.changed.wait(lock, [&] { return m_run->interrupted || !s.queue.isEmpty(); });
        if (m_run->interrupted)
            break;
        const Queued taken = s.queue.dequeue();
        const QString& value = taken.value;
        const QString notice = backlogNotice(s, Clock::now() - taken.at);
        lock.unlock();
        if (!notice.isEmpty())
            report(notice);
        try {
            typeStart();
            typeString(value);
            typeEnd();
            m_device->endValue();
        } catch (const platform::KeyboardLost& lost) {
            desktopLost(value, lost);
            lock.lock();
            break;
        } catch (const std::exception& e) {
            // Anything else a device fails with ends this value only.
            report(QStringLiteral("Error typing %1 on %2 keyboard: %3")
                       .arg(value, m_keyboardType, QString::fromUtf8(e.what())));
        }
        lock.lock();
    }
    m_run->finished = true;
    lock.unlock();
    s.changed.notify_all();
}

void Keybot::desktopLost(const QString& value, const platform::KeyboardLost& lost) {
    // No later key could reach the desktop: one report, and the thread ends. The value under way is not typed
    // again by a later run, since part of it may have reached the application.
    const QString reason = QString::fromUtf8(lost.what());
    report(QStringLiteral("Typing stopped: %1. The value being typed (%2) may be incomplete.").arg(reason, value));
    if (m_view)
        m_view->keyboardLost(reason);
}

void Keybot::pause() {
    m_device->delay(m_keyDelay);
}

void Keybot::report(const QString& text) {
    if (m_view)
        m_view->logImportantEvent(text);
    else
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

void Keybot::tapKey(int code) {
    try {
        m_device->keyPress(code);
    } catch (const platform::KeyboardLost&) {
        throw;
    } catch (const std::exception& e) {
        report(QStringLiteral("Error pressing key %1 on %2 keyboard: %3")
                   .arg(QString::number(code), m_keyboardType, QString::fromUtf8(e.what())));
    }
    pause();
    try {
        m_device->keyRelease(code);
    } catch (const platform::KeyboardLost&) {
        throw;
    } catch (const std::exception& e) {
        report(QStringLiteral("Error releasing key %1 on %2 keyboard: %3")
                   .arg(QString::number(code), m_keyboardType, QString::fromUtf8(e.what())));
    }
}

void Keybot::typeStart() {
    if (m_startWith > 0)
        tapKey(m_startWith);
}

void Keybot::typeEnd() {
    if (m_everyXValues > 1) {
        ++m_numCounter;
        if (m_numCounter == m_everyXValues) {
            m_numCounter = 0;
            if (m_endWith2 > 0)
                tapKey(m_endWith2);
            return;
        }
    }
    if (m_endWith > 0)
        tapKey(m_endWith);
}

void Keybot::typeString(const QString& value) {
    for (const char32_t c : value.toUcs4()) {
        const auto entry = m_keyMap.constFind(c);
        if (entry == m_keyMap.cend()) {
            const QString shown = c >= 32 && c <= 126 ? characterText(c) : QStringLiteral("<%1>").arg(c);
            report(bundle().getString(QStringLiteral("cannot_type")) + shown);
            continue;
        }
        const QList<int>& codes = entry.value();
        // A desktop that cannot prepare or finish the character (its keymap could not be read) skips it.
        try {
            m_device->beginCharacter(c, std::span<const int>(codes.constData(), static_cast<size_t>(codes.size())));
        } catch (const platform::KeyboardLost&) {
            throw;
        } catch (const std::exception& e) {
            report(QStringLiteral("Error typing %1 on %2 keyboard: %3")
                       .arg(characterText(c), m_keyboardType, QString::fromUtf8(e.what())));
            continue;
        }
        if (codes.first() == K::ALT)
            typeAltSequence(c, codes);
        else
            typeChord(codes);
        try {
            m_device->endCharacter();
        } catch (const platform::KeyboardLost&) {
            throw;
        } catch (const std::exception& e) {
            report(QStringLiteral("Error typing %1 on %2 keyboard: %3")
                       .arg(characterText(c), m_keyboardType, QString::fromUtf8(e.what())));
        }
    }
}

void Keybot::typeAltSequence(char32_t character, const QList<int>& codes) {
    bool altDown = false;
    try {
        m_device->keyPress(K::ALT);
        altDown = true;
        pause();
        for (qsizetype i = 1; i < codes.size(); ++i) {
            m_device->keyPress(codes[i]);
            pause();
            m_device->keyRelease(codes[i]);
            pause();
        }
        altDown = false;
        m_device->keyRelease(K::ALT);
        pause();
        pause();
    } catch (const platform::KeyboardLost&) {
        throw;
    } catch (const std::exception& e) {
        report(QStringLiteral("Error pressing ALT key for %1 on %2 keyboard: %3")
                   .arg(characterText(character), m_keyboardType, QString::fromUtf8(e.what())));
        if (altDown) {
            try {
                m_device->keyRelease(K::ALT);
            } catch (const std::exception&) {
                // Already reported: the sequence failed as a whole.
            }
        }
        pause();
    }
}

void Keybot::typeChord(const QList<int>& codes) {
    bool deadKey = false;
    for (qsizetype i = 0; i < codes.size(); ++i) {
        if (codes[i] == K::SPACE && i > 0) {
            deadKey = true;
            continue;
        }
        try {
            m_device->keyPress(codes[i]);
        } catch (const platform::KeyboardLost&) {
            throw;
        } catch (const std::exception& e) {
            report(QStringLiteral("Error pressing key %1 on %2 keyboard: %3")
                       .arg(QString::number(codes[i]), m_keyboardType, QString::fromUtf8(e.what())));
        }
        pause();
    }
    for (qsizetype i = codes.size() - 1; i >= 0; --i) {
        if (deadKey && codes[i] == K::SPACE)
            continue;
        try {
            m_device->keyRelease(codes[i]);
        } catch (const platform::KeyboardLost&) {
            throw;
        } catch (const std::exception& e) {
            report(QStringLiteral("Error releasing key %1 on %2 keyboard: %3")
                       .arg(QString::number(codes[i]), m_keyboardType, QString::fromUtf8(e.what())));
        }
        pause();
    }
    if (deadKey) {
        try {
            m_device->keyPress(K::SPACE);
            pause();
            m_device->keyRelease(K::SPACE);
            pause();
        } catch (const platform::KeyboardLost&) {
            throw;
        } catch (const std::exception& e) {
            report(QStringLiteral("Deadkey error: ") + QString::fromUtf8(e.what()));
        }
    }
}

bool Keybot::isCapsLockOn() {
    return m_device->isCapsLockOn();
}

} // namespace tavlo::worker
