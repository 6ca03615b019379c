#pragma once

#include <QString>
#include <optional>

#include "ui/desktop.h"

class QWidget;

namespace morvane {

// The one file dialog component that serves every open and save dialog of
// the window. It remembers the last chosen path: a dialog whose caller sets
// no file name proposes it, and a bare proposed name opens in its folder.
class OpenSaveDialog {
  public:
    explicit OpenSaveDialog(Desktop& desktop) : m_desktop(desktop) {}

    // Shows the dialog; the chosen full path, or nothing when cancelled.
    std::optional<QString> show(QWidget* owner, FileDialogRequest request);
    // Shows the open dialog titled `title` for an existing file, with the
    // filter written as `filterText` ("Description | pattern"), and
    // `moreFilterText`, when not empty, as a second one.
    std::optional<QString> chooseToOpen(QWidget* owner, const QString& title,
                                        const QString& filterText,
                                        const QString& moreFilterText = QString());
    // Shows the save dialog titled `title`, proposing `fileName` and asking
    // before an existing file is replaced; the question lists what
    // `replacedBy` says the chosen path replaces.
    std::optional<QString> chooseToSave(
        QWidget* owner, const QString& title, const QString& filterText, const QString& fileName,
        std::function<QStringList(const QString& path)> replacedBy = nullptr);

    const QString& lastPath() const { return m_lastPath; }
    // Takes `path` as the last chosen path, as if it had been chosen here.
    void remember(const QString& path) { m_lastPath = path; }

  private:
    Desktop& m_desktop;
    QString m_lastPath;
};

// `path` up to and including its last "/"; empty when it has none.
QString folderOf(const QString& path);
// `path` after its last "/": the name without its folder.
QString nameOf(const QString& path);
// `name` up to, not including, its last "."; the whole name without a ".".
QString baseNameOf(const QString& name);

}  // namespace morvane
