#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QUrl;
class QWidget;

// What the window asks of the desktop and cannot do by itself: file
// dialogs, message boxes, opening an address with the user's default
// program, and the taskbar, notifications and sleep inhibitor of a run. The window receives one
// Desktop and uses nothing else for these, so a test can answer in place of a person.
namespace morvane {

// A dialog's file type filter: the text shown to the user and the name
// patterns it stands for. Patterns match names in any letter case.
struct FileFilter {
    QString description;
    QStringList patterns;

    bool operator==(const FileFilter& other) const {
        return description == other.description && patterns == other.patterns;
    }
};

// Reads a filter written as "Description | pattern;pattern". A pattern of
// "*.*" means every file, so it becomes "*" (names without a dot included).
FileFilter filterFromText(const QString& text);

struct FileDialogRequest {
    enum class Kind { Open, Save };

    Kind kind = Kind::Open;
    QString title;
    FileFilter filter;
    // Filters the person can choose instead of `filter`, in this order.
    QList<FileFilter> moreFilters;
    // The name the dialog proposes: a bare name, a full path, or empty.
    QString fileName;
    // Where the dialog opens when `fileName` names no folder; empty leaves
    // it to the dialog.
    QString startFolder;
    bool fileMustExist = false;
    bool folderMustExist = false;
    bool hideReadOnly = false;
    bool confirmOverwrite = false;
    // For a save dialog that asks before replacing: every existing file that
    // choosing `path` replaces, listed in the question; empty when none is
    // to be listed.
    std::function<QStringList(const QString& path)> replacedBy;
};

enum class MessageIcon { Error, Information };

class Desktop {
  public:
    virtual ~Desktop() = default;

    // Shows a modal file dialog over `owner`. Returns the chosen file's full
    // path, or nothing when the user cancelled or the dialog failed.
    virtual std::optional<QString> chooseFile(QWidget* owner, const FileDialogRequest& request) = 0;
    // Shows a modal message box with one OK button and the program's name as
    // its title. Lines of `text` are separated by "\n".
    virtual void showMessage(QWidget* owner, const QString& text, MessageIcon icon) = 0;
    // As showMessage, with `details` (a failure's whole reason) set below
    // the text as its informative text. Without them, the same as showMessage.
    virtual void showMessageWithDetails(QWidget* owner, const QString& text, MessageIcon icon,
                                        const QString& details) {
        (void)details;
        showMessage(owner, text, icon);
    }
    // Asks the desktop to open `target` with the user's default program.
    // False when no program could be started for it.
    virtual bool openUrl(const QUrl& target) = 0;
    // Asks `text` in a modal message box with Yes and No buttons; true for Yes.
    virtual bool askYesNo(QWidget* owner, const QString& text) = 0;

    // While a run goes on: its share done (0 to 1) on the taskbar or dock;
    // nothing hides it.
    virtual void showRunProgress(std::optional<double> fraction) = 0;
    // Tells the user, outside the window, that a run has ended; with a
    // `folder`, offers to open it.
    virtual void notifyRunEnded(const QString& summary, const QString& body,
                                const QString& folder) = 0;
    // Keeps the machine from suspending, for `reason`, until allowSleep().
    virtual void inhibitSleep(const QString& reason) = 0;
    virtual void allowSleep() = 0;
};

}  // namespace morvane
