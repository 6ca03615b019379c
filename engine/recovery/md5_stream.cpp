#include "engine/recovery/md5_stream.h"

#include <openssl/evp.h>

#include <cstring>

namespace morvane {

void Md5Stream::Free::operator()(evp_md_ctx_st* context) const {
    EVP_MD_CTX_free(context);
}

Md5Stream::Md5Stream() : m_context(EVP_MD_CTX_new()) {
    if (m_context) m_ok = EVP_DigestInit_ex(m_context.get(), EVP_md5(), nullptr) == 1;
}

Md5Stream::~Md5Stream() = default;
Md5Stream::Md5Stream(Md5Stream&&) noexcept = default;
Md5Stream& Md5Stream::operator=(Md5Stream&&) noexcept = default;

void Md5Stream::update(const void* data, std::size_t n) {
    if (!valid() || n == 0) return;
    m_ok = EVP_DigestUpdate(m_context.get(), data, n) == 1;
}

void Md5Stream::updateZeros(uint64_t n) {
    static const unsigned char zeros[65536] = {};
    while (n > 0 && valid()) {
        const std::size_t piece = n < sizeof zeros ? static_cast<std::size_t>(n) : sizeof zeros;
        update(zeros, piece);
        n -= piece;
    }
}

void Md5Stream::copyFrom(const Md5Stream& other) {
    if (!valid() || !other.valid()) {
        m_ok = false;
        return;
    }
    m_ok = EVP_MD_CTX_copy_ex(m_context.get(), other.m_context.get()) == 1;
}

bool Md5Stream::finish(Md5Digest* out) {
    unsigned int length = 0;
    const bool ok = valid() && EVP_DigestFinal_ex(m_context.get(), out->data(), &length) == 1 &&
                    length == out->size();
    m_ok = m_context && EVP_DigestInit_ex(m_context.get(), EVP_md5(), nullptr) == 1;
    return ok;
}

bool md5Of(const void* data, std::size_t n, Md5Digest* out) {
    unsigned int length = 0;
    return EVP_Digest(data, n, out->data(), &length, EVP_md5(), nullptr) == 1 &&
           length == out->size();
}

}  // namespace morvane
