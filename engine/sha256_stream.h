#pragma once

#include <cstddef>
#include <memory>

#include "engine/checksum_file.h"

struct evp_md_ctx_st;

namespace morvane {

// A SHA-256 digest computed piece by piece (OpenSSL's libcrypto).
class Sha256Stream {
  public:
    Sha256Stream();
    ~Sha256Stream();
    Sha256Stream(Sha256Stream&&) noexcept;
    Sha256Stream& operator=(Sha256Stream&&) noexcept;

    // Feeds data[0, n).
    void update(const void* data, std::size_t n);
    // The digest of everything fed since the start or the last finish; the
    // stream then starts again. Returns false when libcrypto failed at any
    // point; the stream is then of no further use.
    bool finish(Sha256Digest* out);
    // False once libcrypto has failed, or when the stream could not be set up.
    bool ok() const { return m_ok; }

  private:
    struct Free {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> m_context;
    bool m_ok = true;
};

}  // namespace morvane
