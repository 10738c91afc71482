#include "worker/Interruption.h"

#include <chrono>

namespace tavlo::worker {

namespace {
thread_local std::shared_ptr<Interruption> t_current;
}

std::shared_ptr<Interruption> Interruption::current() {
    if (!t_current)
        t_current = std::make_shared<Interruption>();
    return t_current;
}

void Interruption::interrupt() {
    std::lock_guard lock(m_mutex);
    m_interrupted = true;
    m_wake.notify_all();
    for (auto& [id, fn] : m_hooks)
        fn();
}

bool Interruption::isInterrupted() const {
    std::lock_guard lock(m_mutex);
    return m_interrupted;
}

void Interruption::clear() {
    std::lock_guard lock(m_mutex);
    m_interrupted = false;
}

bool Interruption::sleepFor(int ms) {
    std::unique_lock lock(m_mutex);
    if (ms <= 0)
        return !m_interrupted;
    return !m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_interrupted; });
}

bool Interruption::sleep(int ms) {
    return current()->sleepFor(ms);
}

bool Interruption::currentIsInterrupted() {
    return current()->isInterrupted();
}

Interruption::Hook::Hook(std::function<void()> fn) : m_state(current()) {
    std::lock_guard lock(m_state->m_mutex);
    if (m_state->m_interrupted) {
        fn();
        return;
    }
    m_id = m_state->m_nextHook++;
    m_state->m_hooks.emplace(m_id, std::move(fn));
}

Interruption::Hook::~Hook() {
    if (m_id == 0)
        return;
    std::lock_guard lock(m_state->m_mutex);
    m_state->m_hooks.erase(m_id);
}

Interruption::Scope::Scope(std::shared_ptr<Interruption> state) : m_previous(std::move(t_current)) {
    t_current = std::move(state);
}

Interruption::Scope::~Scope() {
    t_current = std::move(m_previous);
}

} // namespace tavlo::worker
