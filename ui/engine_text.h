#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <string>

// File names and texts cross between the window and the engines as the
// bytes the file system uses.
namespace morvane {

inline std::string toEngineText(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

inline QString fromEngineText(const std::string& text) {
    return QFile::decodeName(QByteArray::fromStdString(text));
}

}  // namespace morvane
