#include "ui/busy_state.h"

namespace morvane {

BusyState::Scope::Scope(BusyState& state) : m_state(state) {
    ++m_state.m_depth;
}

BusyState::Scope::~Scope() {
    if (--m_state.m_depth == 0) emit m_state.handlersReturned();
}

void BusyState::setRunning(bool running) {
    if (m_running == running) return;
    m_running = running;
    emit runningChanged(running);
}

void BusyState::runWhenIdle(const std::function<void()>& handler) {
    if (isBusy()) return;
    const Scope busy(*this);
    handler();
}

}  // namespace morvane
