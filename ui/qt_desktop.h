#pragma once

#include "ui/desktop.h"

namespace morvane {

// The desktop as a person meets it: Qt's own file dialogs and message
// boxes, and the desktop's default programs through QDesktopServices.
class QtDesktop : public Desktop {
  public:
    // Qt's file dialog saves its history and layout for the user (in
    // QtProject.conf) whenever it closes; the constructor turns that off
    // for this process, so that the program leaves nothing behind.
    QtDesktop();

    std::optional<QString> chooseFile(QWidget* owner, const FileDialogRequest& request) override;
    void showMessage(QWidget* owner, const QString& text, MessageIcon icon) override;
    bool openUrl(const QUrl& target) override;
};

}  // namespace morvane
