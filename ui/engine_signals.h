#pragma once

#include <QObject>
#include <functional>

#include "engine/file_divider_events.h"
#include "engine/file_glue_events.h"
#include "ui/engine_snapshot.h"

namespace morvane {

// Observer of a FileDivider or a FileGlue that carries its notifications as
// Qt signals. Each signal comes on the thread this object lives on, in the
// order the engine raised the notifications, with the engine's snapshot
// taken when it raised them: at once when the engine works on this thread,
// through the event loop when it works on another. onCheckExist has no
// signal: the chunk check does not touch the window.
class EngineSignals : public QObject, public FileDividerEvents, public FileGlueEvents {
    Q_OBJECT

  public:
    using QObject::QObject;

    // Carries the notifications of `engine` from now on. `engine` must
    // outlive its notifications, and must not be working when this is
    // called.
    template <typename Engine>
    void watch(Engine& engine) {
        m_read = [&engine] { return snapshotOf(engine); };
        engine.setObserver(this);
    }

    void onGenHeader() override;
    void onNewDivision() override;
    void onComplete() override;
    void onError() override;
    void onClearErr() override;

  signals:
    void genHeader(const EngineSnapshot& engine);
    void newDivision(const EngineSnapshot& engine);
    void complete(const EngineSnapshot& engine);
    void error(const EngineSnapshot& engine);
    void clearErr(const EngineSnapshot& engine);

  private:
    void carry(void (EngineSignals::*signal)(const EngineSnapshot&));

    std::function<EngineSnapshot()> m_read;
};

}  // namespace morvane
