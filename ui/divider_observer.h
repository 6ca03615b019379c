#pragma once

#include "engine/file_divider_events.h"

namespace morvane {

class frmMain;

// Hands the divider's notifications to the window's objDiv_* handlers.
class DividerObserver : public FileDividerEvents {
  public:
    explicit DividerObserver(frmMain& form) : m_form(form) {}

    void onGenHeader() override;
    void onNewDivision() override;
    void onComplete() override;
    void onError() override;
    void onClearErr() override;

  private:
    frmMain& m_form;
};

}  // namespace morvane
