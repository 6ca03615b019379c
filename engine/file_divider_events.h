#pragma once

namespace morvane {

// Observer of a FileDivider. Notifications carry no arguments: read the
// divider's properties while handling one. Declared in slot order.
class FileDividerEvents {
  public:
    virtual ~FileDividerEvents() = default;

    // A division run is about to write its header file.
    virtual void onGenHeader() {}
    // A block is about to be copied; CurrentChunk and CurrentOp name it.
    virtual void onNewDivision() {}
    // A division run finished; comes right after its onClearErr.
    virtual void onComplete() {}
    // An error was recorded; the error state already holds it.
    virtual void onError() {}
    // The error state was reset to "No Error".
    virtual void onClearErr() {}
};

}  // namespace morvane
