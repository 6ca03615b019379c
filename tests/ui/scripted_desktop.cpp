#include "scripted_desktop.h"

#include <gtest/gtest.h>

std::optional<QString> ScriptedDesktop::chooseFile(QWidget*,
                                                   const morvane::FileDialogRequest& request) {
    fileRequests.push_back(request);
    if (onFileDialog) onFileDialog(request);
    if (fileAnswers.empty()) {
        ADD_FAILURE() << "unexpected file dialog \"" << request.title.toStdString() << "\"";
        return std::nullopt;
    }
    const bool cancelled = !fileAnswers.front().has_value();
    const QString path = fileAnswers.front().value_or(QString());
    fileAnswers.pop_front();
    if (cancelled) return std::nullopt;
    return path;
}

void ScriptedDesktop::showMessage(QWidget* owner, const QString& text, morvane::MessageIcon icon) {
    showMessageWithDetails(owner, text, icon, QString());
}

void ScriptedDesktop::showMessageWithDetails(QWidget*, const QString& text,
                                             morvane::MessageIcon icon, const QString& details) {
    messages.push_back({text, icon, details});
    if (onMessage) onMessage(messages.back());
}

bool ScriptedDesktop::openUrl(const QUrl& target) {
    openedUrls.push_back(target);
    if (urlAnswers.empty()) return true;
    const bool answer = urlAnswers.front();
    urlAnswers.pop_front();
    return answer;
}

bool ScriptedDesktop::askYesNo(QWidget*, const QString& text) {
    questions << text;
    if (onQuestion) onQuestion(text);
    if (questionAnswers.empty()) return false;
    const bool answer = questionAnswers.front();
    questionAnswers.pop_front();
    return answer;
}

void ScriptedDesktop::showRunProgress(std::optional<double> fraction) {
    runProgress.push_back(fraction);
}

void ScriptedDesktop::notifyRunEnded(const QString& summary, const QString& body, const QString&) {
    notifications.emplace_back(summary, body);
}

void ScriptedDesktop::inhibitSleep(const QString& reason) {
    sleepRequests << QStringLiteral("inhibit: ") + reason;
}

void ScriptedDesktop::allowSleep() {
    sleepRequests << QStringLiteral("allow");
}
