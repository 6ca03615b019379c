#pragma once

#include <cstdint>
#include <string>

namespace morvane {

// What the window's notification handlers read from an engine, taken on the
// thread that raised the notification, so that it can be handed to the
// window's thread while the engine goes on.
struct EngineSnapshot {
    int64_t currentOp = 0;
    int64_t numOfOps = 0;
    int32_t currentChunk = 0;
    int32_t numOfChunks = 0;
    bool isSysErr = false;
    int code = 0;
    std::string description;
};

// Reads the snapshot from a FileDivider or a FileGlue.
template <typename Engine>
EngineSnapshot snapshotOf(const Engine& engine) {
    EngineSnapshot snapshot;
    snapshot.currentOp = engine.CurrentOp();
    snapshot.numOfOps = engine.NumOfOps();
    snapshot.currentChunk = engine.CurrentChunk();
    snapshot.numOfChunks = engine.NumOfChunks();
    snapshot.isSysErr = engine.IsSysErr();
    snapshot.code = engine.ErrorCode();
    snapshot.description = engine.ErrorDescription();
    return snapshot;
}

}  // namespace morvane
