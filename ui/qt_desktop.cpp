#include "ui/qt_desktop.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QSettings>
#include <QUrl>

#include "ui/app_info.h"
#include "ui/open_save_dialog.h"
#include "ui/session_bus.h"

namespace morvane {

namespace {

// The most names the overwrite question lists; the rest are counted.
constexpr qsizetype kListedReplacements = 12;

// "These files are replaced too:" and the names, at most kListedReplacements.
QString replacementList(const QStringList& names) {
    QStringList lines = names.mid(0, kListedReplacements);
    if (names.size() > kListedReplacements)
        lines << QStringLiteral("and %1 more").arg(QLocale().toString(names.size() - lines.size()));
    return QStringLiteral("These files are replaced:\n") + lines.join(u'\n');
}

// A file dialog that refuses a name in a folder that does not exist, which
// Qt's save dialog would otherwise accept, and that asks itself before a
// file is replaced when it is to list everything the choice replaces.
class FolderCheckingFileDialog : public QFileDialog {
  public:
    FolderCheckingFileDialog(QWidget* owner, const FileDialogRequest& request)
        : QFileDialog(owner, request.title), m_request(request) {}

    // True when the dialog asks before replacing, rather than Qt's own question.
    bool asksItself() const { return m_request.confirmOverwrite && m_request.replacedBy; }

    void accept() override {
        const QStringList files = selectedFiles();
        if (m_request.folderMustExist && !files.isEmpty()) {
            const QFileInfo chosen(files.first());
            if (!chosen.isDir() && !QFileInfo(chosen.absolutePath()).isDir()) {
                QMessageBox::warning(this, windowTitle(),
                                     tr("The folder %1 does not exist.")
                                         .arg(QDir::toNativeSeparators(chosen.absolutePath())));
                return;
            }
        }
        if (asksItself() && !files.isEmpty() && !mayReplace(files.first())) return;
        QFileDialog::accept();
    }

  private:
    // Qt's own question for an existing file, with what else it replaces.
    bool mayReplace(const QString& path) {
        const QFileInfo chosen(path);
        if (!chosen.exists() || chosen.isDir()) return true;
        QMessageBox box(QMessageBox::Warning, windowTitle(),
                        tr("%1 already exists.\nDo you want to replace it?").arg(chosen.fileName()),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setTextFormat(Qt::PlainText);
        box.setDefaultButton(QMessageBox::No);
        const QStringList replaced = m_request.replacedBy(path);
        if (!replaced.isEmpty()) box.setInformativeText(replacementList(replaced));
        return box.exec() == QMessageBox::Yes;
    }

    const FileDialogRequest& m_request;
};

}  // namespace

QtDesktop::QtDesktop() : m_bus(std::make_unique<SessionBus>(QStringLiteral(MORVANE_APP_ID))) {
    m_bus->setFolderOpener([this](const QString& folder) { openUrl(QUrl::fromLocalFile(folder)); });
    // The dialog writes through QSettings in the user scope. A folder inside
    // /dev/null can neither be read nor created, so each such write fails
    // and no file is made anywhere, even for root.
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, QStringLiteral("/dev/null"));
}

std::optional<QString> QtDesktop::chooseFile(QWidget* owner, const FileDialogRequest& request) {
    FolderCheckingFileDialog dialog(owner, request);
    // Qt's own dialog: the same on every desktop, and its patterns can match
    // in any letter case. The read-only check box does not exist in it.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    const bool save = request.kind == FileDialogRequest::Kind::Save;
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite,
                     !request.confirmOverwrite || dialog.asksItself());
    // The description is shown as it stands; the patterns that follow it in
    // parentheses are the ones applied, and are not shown.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    QStringList filters;
    for (const FileFilter& filter : QList<FileFilter>{request.filter} + request.moreFilters)
        filters << filter.description + QStringLiteral(" (") + filter.patterns.join(u' ') + u')';
    dialog.setNameFilters(filters);
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    if (folderOf(request.fileName).isEmpty()) {
        if (!request.startFolder.isEmpty() && QFileInfo(request.startFolder).isDir())
            dialog.setDirectory(request.startFolder);
        if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
    } else {
        dialog.selectFile(request.fileName);
    }
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return files.first();
}

void QtDesktop::showMessage(QWidget* owner, const QString& text, MessageIcon icon) {
    showMessageWithDetails(owner, text, icon, QString());
}

void QtDesktop::showMessageWithDetails(QWidget* owner, const QString& text, MessageIcon icon,
                                       const QString& details) {
    QMessageBox box(icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::Information,
                    QString::fromLatin1(kProgramName), text, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    // The informative text takes the box's text format: plain, like the text.
    if (!details.isEmpty()) box.setInformativeText(details);
    box.exec();
}

bool QtDesktop::openUrl(const QUrl& target) {
    return QDesktopServices::openUrl(target);
}

QtDesktop::~QtDesktop() = default;

bool QtDesktop::askYesNo(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(kProgramName), text,
                    QMessageBox::Yes | QMessageBox::No, owner);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void QtDesktop::showRunProgress(std::optional<double> fraction) {
    m_bus->showProgress(fraction);
}

void QtDesktop::notifyRunEnded(const QString& summary, const QString& body, const QString& folder) {
    m_bus->notify(summary, body, folder);
}

void QtDesktop::inhibitSleep(const QString& reason) {
    m_bus->inhibitSleep(reason);
}

void QtDesktop::allowSleep() {
    m_bus->allowSleep();
}

}  // namespace morvane
