#include "engine/durable_outputs.h"

#include <cerrno>

namespace morvane {

Status DurableOutputs::begin(const std::string& folder) {
    m_folder.reset();
    Status s = m_layer.openFolder(folder, &m_folder);
    if (s.number() == EACCES) return Status::OK();
    if (s.ok() && !m_layer.identify(*m_folder, &m_folderId)) s = Status::SysError(errno);
    if (!s.ok()) m_folder.reset();
    return s;
}

Status DurableOutputs::retire(File& file) {
    FileId id;
    const bool covered = m_folder && m_layer.identify(file, &id) && id.device == m_folderId.device;
    Status s;
    if (covered) {
        m_layer.startWriteback(file, true);
    } else {
        s = m_layer.flush(file);
    }
    if (s.ok()) s = m_layer.close(file);
    return s;
}

Status DurableOutputs::finish() {
    if (!m_folder) return Status::OK();
    Status s = m_layer.flushFileSystem(*m_folder);
    if (s.ok()) s = m_layer.flushFolder(*m_folder);
    if (s.ok()) s = m_layer.close(*m_folder);
    m_folder.reset();
    return s;
}

}  // namespace morvane
