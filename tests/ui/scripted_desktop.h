#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <deque>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "ui/desktop.h"

// A desktop that answers from a script and records every request, in place
// of a person in front of the dialogs.
class ScriptedDesktop : public morvane::Desktop {
  public:
    struct Message {
        QString text;
        morvane::MessageIcon icon;
        QString details;
    };

    std::optional<QString> chooseFile(QWidget* owner,
                                      const morvane::FileDialogRequest& request) override;
    void showMessage(QWidget* owner, const QString& text, morvane::MessageIcon icon) override;
    void showMessageWithDetails(QWidget* owner, const QString& text, morvane::MessageIcon icon,
                                const QString& details) override;
    bool openUrl(const QUrl& target) override;
    bool askYesNo(QWidget* owner, const QString& text) override;
    void showRunProgress(std::optional<double> fraction) override;
    void notifyRunEnded(const QString& summary, const QString& body, const QString&) override;
    void inhibitSleep(const QString& reason) override;
    void allowSleep() override;

    // Answers of the next file dialogs: a full path, or nothing for Cancel.
    std::deque<std::optional<QString>> fileAnswers;
    // Answers of the next open requests; true when the script runs out.
    std::deque<bool> urlAnswers;
    // Answers of the next questions: true for Yes; No when the script runs out.
    std::deque<bool> questionAnswers;
    // Called when a file dialog, a message box or a question would be on
    // the screen.
    std::function<void(const morvane::FileDialogRequest&)> onFileDialog;
    std::function<void(const Message&)> onMessage;
    std::function<void(const QString&)> onQuestion;

    std::vector<morvane::FileDialogRequest> fileRequests;
    std::vector<Message> messages;
    std::vector<QUrl> openedUrls;
    QStringList questions;
    // Every share shown on the taskbar; nothing for "hidden".
    std::vector<std::optional<double>> runProgress;
    // Summary and body of every notification.
    std::vector<std::pair<QString, QString>> notifications;
    // "inhibit: <reason>" and "allow", in order.
    QStringList sleepRequests;
};
