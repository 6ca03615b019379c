#pragma once

#include "ui/desktop.h"

namespace morvane {

// The desktop as a person meets it: Qt's own file dialogs and message
// boxes, and the desktop's default programs through QDesktopServices.
class QtDesktop : public Desktop {
  public:
    std::optional<QString> chooseFile(QWidget* owner, const FileDialogRequest& request) override;
    void showMessage(QWidget* owner, const QString& text, MessageIcon icon) override;
    bool openUrl(const QUrl& target) override;
};

}  // namespace morvane
