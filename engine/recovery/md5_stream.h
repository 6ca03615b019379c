#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

struct evp_md_ctx_st;

namespace morvane {

using Md5Digest = std::array<unsigned char, 16>;

// An MD5 digest computed piece by piece (OpenSSL's libcrypto).
class Md5Stream {
  public:
    Md5Stream();
    ~Md5Stream();
    Md5Stream(Md5Stream&&) noexcept;
    Md5Stream& operator=(Md5Stream&&) noexcept;

    // False when the digest could not be set up; every later call then fails.
    bool valid() const { return m_context != nullptr && m_ok; }
    void update(const void* data, std::size_t n);
    // Feeds `n` zero bytes.
    void updateZeros(uint64_t n);
    // Becomes a copy of `other`, including the bytes it has taken so far.
    void copyFrom(const Md5Stream& other);
    // The digest of everything fed since the start; the stream then starts
    // again. Returns false when libcrypto failed at any point.
    bool finish(Md5Digest* out);

  private:
    struct Free {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> m_context;
    bool m_ok = true;
};

// The MD5 of `n` bytes in one call; false when libcrypto failed.
bool md5Of(const void* data, std::size_t n, Md5Digest* out);

}  // namespace morvane
