#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/recovery/par2_wire.h"

namespace morvane {

// GF(2^16) with the polynomial 0x1100B, as recovery data uses it, on top of
// GF-Complete. Region operations read and write 16-bit little-endian words.
// One instance may be used from several threads once it is set up.
class GaloisField16 {
  public:
    GaloisField16();
    ~GaloisField16();
    GaloisField16(const GaloisField16&) = delete;
    GaloisField16& operator=(const GaloisField16&) = delete;

    // False when GF-Complete could not be set up (no memory).
    bool valid() const { return m_valid; }

    uint16_t multiply(uint16_t a, uint16_t b) const;
    // a / b; b must not be 0.
    uint16_t divide(uint16_t a, uint16_t b) const;
    // base ^ exponent.
    uint16_t power(uint16_t base, uint32_t exponent) const;

    // dst = coefficient * src (or dst ^= that when `add`), word by word.
    // `bytes` may be odd: the last byte then counts as a word whose high
    // byte is zero, and dst must have room for bytes + 1. src and dst must
    // lie at the same address modulo kRegionAlignment.
    void multiplyRegion(const char* src, char* dst, uint16_t coefficient, std::size_t bytes,
                        bool add) const;

    static constexpr std::size_t kRegionAlignment = 16;

  private:
    struct State;
    std::unique_ptr<State> m_state;
    bool m_valid = false;
};

// The constant of input slice `index` (from 0, below kMaxInputSlices):
// 2 raised to the index-th exponent that is divisible by none of 3, 5, 17
// and 257.
uint32_t inputSliceExponent(int32_t index);

}  // namespace morvane
