#include "engine/mapped_region.h"

#include <sys/mman.h>

namespace morvane {

MappedRegion::MappedRegion(void* base, std::size_t length, std::size_t skip)
    : m_base(base), m_length(length), m_skip(skip) {}

MappedRegion::~MappedRegion() {
    ::munmap(m_base, m_length);
}

}  // namespace morvane
