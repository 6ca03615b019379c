#include "ui/engine_signals.h"

#include <QThread>

namespace morvane {

void EngineSignals::onGenHeader() {
    carry(&EngineSignals::genHeader);
}

void EngineSignals::onNewDivision() {
    carry(&EngineSignals::newDivision);
}

void EngineSignals::onComplete() {
    carry(&EngineSignals::complete);
}

void EngineSignals::onError() {
    carry(&EngineSignals::error);
}

void EngineSignals::onClearErr() {
    carry(&EngineSignals::clearErr);
}

void EngineSignals::carry(void (EngineSignals::*signal)(const EngineSnapshot&)) {
    EngineSnapshot snapshot = m_read();
    if (QThread::currentThread() == thread()) {
        emit(this->*signal)(snapshot);
        return;
    }
    // Events posted to the objects of one thread are delivered in the order
    // they were posted.
    QMetaObject::invokeMethod(
        this, [this, signal, snapshot = std::move(snapshot)] { emit(this->*signal)(snapshot); },
        Qt::QueuedConnection);
}

}  // namespace morvane
