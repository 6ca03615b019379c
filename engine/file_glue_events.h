#pragma once

namespace morvane {

// Observer of a FileGlue. Notifications carry no arguments: read the glue
// engine's properties while handling one. Declared in slot order.
class FileGlueEvents {
  public:
    virtual ~FileGlueEvents() = default;

    // An error was recorded; the error state already holds it.
    virtual void onError() {}
    // A block is about to be copied; CurrentChunk and CurrentOp name it.
    virtual void onNewDivision() {}
    // A glue run finished; comes right after its onClearErr.
    virtual void onComplete() {}
    // The error state was reset to "No Error".
    virtual void onClearErr() {}
    // checkExistence is about to look for chunk CurrentChunk.
    virtual void onCheckExist() {}
};

}  // namespace morvane
