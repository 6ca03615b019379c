#pragma once

#include <cstddef>

namespace morvane {

// Bytes of a file mapped shared and writable: what is stored through
// data() reaches the file's pages without a system call. Destroying it
// unmaps the pages; writeback errors are reported by the flushes that
// follow, as for write(2).
class MappedRegion {
  public:
    // `base` and `length` are what mmap returned and was asked for;
    // `skip` bytes at the start of the mapping precede data().
    MappedRegion(void* base, std::size_t length, std::size_t skip);
    ~MappedRegion();
    MappedRegion(const MappedRegion&) = delete;
    MappedRegion& operator=(const MappedRegion&) = delete;

    char* data() const { return static_cast<char*>(m_base) + m_skip; }
    std::size_t size() const { return m_length - m_skip; }

  private:
    void* m_base;
    std::size_t m_length;
    std::size_t m_skip;
};

}  // namespace morvane
