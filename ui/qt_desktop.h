#pragma once

#include <memory>

#include "ui/desktop.h"

namespace morvane {

class SessionBus;

// The desktop as a person meets it: Qt's own file dialogs and message
// boxes, the desktop's default programs through QDesktopServices, and the
// session bus's services.
class QtDesktop : public Desktop {
  public:
    // Qt's file dialog saves its history and layout for the user (in
    // QtProject.conf) whenever it closes; the constructor turns that off
    // for this process, so that the program leaves nothing behind.
    QtDesktop();
    ~QtDesktop() override;

    std::optional<QString> chooseFile(QWidget* owner, const FileDialogRequest& request) override;
    void showMessage(QWidget* owner, const QString& text, MessageIcon icon) override;
    void showMessageWithDetails(QWidget* owner, const QString& text, MessageIcon icon,
                                const QString& details) override;
    bool openUrl(const QUrl& target) override;
    bool askYesNo(QWidget* owner, const QString& text) override;
    void showRunProgress(std::optional<double> fraction) override;
    void notifyRunEnded(const QString& summary, const QString& body,
                        const QString& folder) override;
    void inhibitSleep(const QString& reason) override;
    void allowSleep() override;

  private:
    std::unique_ptr<SessionBus> m_bus;
};

}  // namespace morvane
