#pragma once

#include "engine/file_glue_events.h"

namespace morvane {

class frmMain;

// Hands the glue engine's notifications to the window's objGlu_* handlers.
// onCheckExist has no handler: the chunk check does not touch the window.
class GlueObserver : public FileGlueEvents {
  public:
    explicit GlueObserver(frmMain& form) : m_form(form) {}

    void onError() override;
    void onNewDivision() override;
    void onComplete() override;
    void onClearErr() override;

  private:
    frmMain& m_form;
};

}  // namespace morvane
