#pragma once

#include <QString>
#include <QUrl>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "ui/desktop.h"

// A desktop that answers from a script and records every request, in place
// of a person in front of the dialogs.
class ScriptedDesktop : public morvane::Desktop {
  public:
    struct Message {
        QString text;
        morvane::MessageIcon icon;
    };

    std::optional<QString> chooseFile(QWidget* owner,
                                      const morvane::FileDialogRequest& request) override;
    void showMessage(QWidget* owner, const QString& text, morvane::MessageIcon icon) override;
    bool openUrl(const QUrl& target) override;

    // Answers of the next file dialogs: a full path, or nothing for Cancel.
    std::deque<std::optional<QString>> fileAnswers;
    // Answers of the next open requests; true when the script runs out.
    std::deque<bool> urlAnswers;
    // Called when a file dialog or a message box would be on the screen.
    std::function<void(const morvane::FileDialogRequest&)> onFileDialog;
    std::function<void(const Message&)> onMessage;

    std::vector<morvane::FileDialogRequest> fileRequests;
    std::vector<Message> messages;
    std::vector<QUrl> openedUrls;
};
