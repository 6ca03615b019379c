#include "engine/run_phase.h"

namespace morvane {

std::string phaseText(const RunPhaseSnapshot& phase) {
    switch (phase.kind) {
        case RunPhaseKind::Idle:
            return std::string();
        case RunPhaseKind::WritingChunks:
            return "Writing chunks";
        case RunPhaseKind::WritingRecovery:
            return "Writing recovery data";
        case RunPhaseKind::Checking:
            return phase.subject.empty() ? "Checking chunks" : "Checking " + phase.subject;
        case RunPhaseKind::Rebuilding:
            return phase.subject.empty() ? "Rebuilding from recovery data"
                                         : "Rebuilding " + phase.subject + " from recovery data";
        case RunPhaseKind::Gluing:
            return "Gluing chunks";
        case RunPhaseKind::Flushing:
            return "Flushing to disk";
    }
    return std::string();
}

void RunPhase::enter(RunPhaseKind kind, const std::string& subject, int64_t total) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_kind = kind;
    m_subject = subject;
    m_total = total;
    m_done = 0;
    m_follow = nullptr;
}

void RunPhase::enterFollowing(RunPhaseKind kind, const std::atomic<int64_t>* counter,
                              int64_t total) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_kind = kind;
    m_subject.clear();
    m_total = total;
    m_done = 0;
    m_follow = counter;
    m_followBase = counter->load();
}

void RunPhase::stopFollowing() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_follow) return;
    m_done = m_follow->load() - m_followBase;
    m_follow = nullptr;
}

RunPhaseSnapshot RunPhase::snapshot() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    RunPhaseSnapshot s;
    s.kind = m_kind;
    s.subject = m_subject;
    s.total = m_total;
    s.done = m_follow ? m_follow->load() - m_followBase : m_done.load();
    s.lastFlushMs = m_flushMs->load();
    s.laterWork = m_later.load();
    return s;
}

}  // namespace morvane
