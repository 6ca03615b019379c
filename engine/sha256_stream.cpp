#include "engine/sha256_stream.h"

#include <openssl/evp.h>

namespace morvane {

void Sha256Stream::Free::operator()(evp_md_ctx_st* context) const {
    EVP_MD_CTX_free(context);
}

Sha256Stream::Sha256Stream() : m_context(EVP_MD_CTX_new()) {
    m_ok = m_context && EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) == 1;
}

Sha256Stream::~Sha256Stream() = default;
Sha256Stream::Sha256Stream(Sha256Stream&&) noexcept = default;
Sha256Stream& Sha256Stream::operator=(Sha256Stream&&) noexcept = default;

void Sha256Stream::update(const void* data, std::size_t n) {
    if (m_ok && n > 0) m_ok = EVP_DigestUpdate(m_context.get(), data, n) == 1;
}

bool Sha256Stream::finish(Sha256Digest* out) {
    unsigned int length = 0;
    m_ok = m_ok && EVP_DigestFinal_ex(m_context.get(), out->data(), &length) == 1 &&
           length == out->size() && EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) == 1;
    return m_ok;
}

}  // namespace morvane
