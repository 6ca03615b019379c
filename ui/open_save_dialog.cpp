#include "ui/open_save_dialog.h"

namespace morvane {

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
