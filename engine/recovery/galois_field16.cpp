#include "engine/recovery/galois_field16.h"

// GF-Complete is a C library whose header declares no C linkage.
extern "C" {
#include <gf_complete.h>
}

#include <climits>
#include <mutex>

namespace morvane {

struct GaloisField16::State {
    gf_t field;
};

GaloisField16::GaloisField16() : m_state(std::make_unique<State>()) {
    // w = 16 defaults to the polynomial 0x1100B.
    m_valid = gf_init_easy(&m_state->field, 16) == 1 &&
              m_state->field.multiply.w32(&m_state->field, 2, 0x8000) == 0x100B;
}

GaloisField16::~GaloisField16() {
    if (m_valid) gf_free(&m_state->field, 0);
}

uint16_t GaloisField16::multiply(uint16_t a, uint16_t b) const {
    return static_cast<uint16_t>(m_state->field.multiply.w32(&m_state->field, a, b));
}

uint16_t GaloisField16::divide(uint16_t a, uint16_t b) const {
    return static_cast<uint16_t>(m_state->field.divide.w32(&m_state->field, a, b));
}

uint16_t GaloisField16::power(uint16_t base, uint32_t exponent) const {
    uint16_t result = 1;
    uint16_t square = base;
    while (exponent != 0) {
        if (exponent & 1) result = multiply(result, square);
        square = multiply(square, square);
        exponent >>= 1;
    }
    return result;
}

void GaloisField16::multiplyRegion(const char* src, char* dst, uint16_t coefficient,
                                   std::size_t bytes, bool add) const {
    gf_t* field = &m_state->field;
    const std::size_t even = bytes & ~std::size_t{1};
    constexpr std::size_t kPiece = std::size_t{1} << 30;
    for (std::size_t done = 0; done < even;) {
        const std::size_t piece = std::min(even - done, kPiece);
        field->multiply_region.w32(field, const_cast<char*>(src + done), dst + done, coefficient,
                                   static_cast<int>(piece), add ? 1 : 0);
        done += piece;
    }
    if (even == bytes) return;
    const uint16_t word = static_cast<unsigned char>(src[even]);
    const uint16_t product = multiply(word, coefficient);
    unsigned char* out = reinterpret_cast<unsigned char*>(dst + even);
    if (add) {
        out[0] ^= static_cast<unsigned char>(product & 0xFF);
        out[1] ^= static_cast<unsigned char>(product >> 8);
    } else {
        out[0] = static_cast<unsigned char>(product & 0xFF);
        out[1] = static_cast<unsigned char>(product >> 8);
    }
}

uint32_t inputSliceExponent(int32_t index) {
    static std::vector<uint32_t> exponents;
    static std::once_flag once;
    std::call_once(once, [] {
        exponents.reserve(kMaxInputSlices);
        for (uint32_t n = 1; exponents.size() < kMaxInputSlices; ++n) {
            if (n % 3 != 0 && n % 5 != 0 && n % 17 != 0 && n % 257 != 0) exponents.push_back(n);
        }
    });
    return exponents[static_cast<std::size_t>(index)];
}

}  // namespace morvane
