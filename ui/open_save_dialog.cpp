#include "ui/open_save_dialog.h"

namespace morvane {

namespace {

// What open and save dialogs have in common: the folder must exist and the
// read-only box is hidden.
FileDialogRequest dialogRequest(FileDialogRequest::Kind kind, const QString& title,
                                const QString& filterText) {
    FileDialogRequest request;
    request.kind = kind;
    request.title = title;
    request.filter = filterFromText(filterText);
    request.folderMustExist = true;
    request.hideReadOnly = true;
    return request;
}

}  // namespace

std::optional<QString> OpenSaveDialog::show(QWidget* owner, FileDialogRequest request) {
    if (request.fileName.isEmpty()) request.fileName = m_lastPath;
    if (folderOf(request.fileName).isEmpty() && request.startFolder.isEmpty())
        request.startFolder = folderOf(m_lastPath);
    std::optional<QString> chosen = m_desktop.chooseFile(owner, request);
    if (chosen && !chosen->isEmpty()) {
        m_lastPath = *chosen;
        return chosen;
    }
    return std::nullopt;
}

std::optional<QString> OpenSaveDialog::chooseToOpen(QWidget* owner, const QString& title,
                                                    const QString& filterText,
                                                    const QString& moreFilterText) {
    FileDialogRequest request = dialogRequest(FileDialogRequest::Kind::Open, title, filterText);
    if (!moreFilterText.isEmpty()) request.moreFilters << filterFromText(moreFilterText);
    request.fileMustExist = true;
    return show(owner, request);
}

std::optional<QString> OpenSaveDialog::chooseToSave(
    QWidget* owner, const QString& title, const QString& filterText, const QString& fileName,
    std::function<QStringList(const QString& path)> replacedBy) {
    FileDialogRequest request = dialogRequest(FileDialogRequest::Kind::Save, title, filterText);
    request.confirmOverwrite = true;
    request.fileName = fileName;
    request.replacedBy = std::move(replacedBy);
    return show(owner, request);
}

QString folderOf(const QString& path) {
    return path.left(path.lastIndexOf(u'/') + 1);
}

QString nameOf(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QString baseNameOf(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? name : name.left(dot);
}

}  // namespace morvane
