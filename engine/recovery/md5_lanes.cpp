#include "engine/recovery/md5_lanes.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace morvane {

namespace {

constexpr uint32_t kInitial[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// Which message word step i takes.
constexpr int wordOf(int i) {
    return i < 16 ? i : i < 32 ? (5 * i + 1) % 16 : i < 48 ? (3 * i + 5) % 16 : (7 * i) % 16;
}

uint32_t loadLe32(const unsigned char* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint32_t rotl(uint32_t x, int r) {
    return (x << r) | (x >> (32 - r));
}

void scalarBlocks(uint32_t* state, const unsigned char* p, std::size_t blocks) {
    for (; blocks > 0; --blocks, p += 64) {
        uint32_t m[16];
        for (int w = 0; w < 16; ++w) m[w] = loadLe32(p + 4 * w);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
#pragma GCC unroll 64
        for (int i = 0; i < 64; ++i) {
            const int round = i / 16;
            uint32_t f = round == 0   ? d ^ (b & (c ^ d))
                         : round == 1 ? c ^ (d & (b ^ c))
                         : round == 2 ? b ^ c ^ d
                                      : c ^ (b | ~d);
            f = b + rotl(a + f + kSine[i] + m[wordOf(i)], kShift[round][i % 4]);
            a = d;
            d = c;
            c = b;
            b = f;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
    }
}

// Up to 16 streams advanced together: their states by word (a, b, c, d)
// and lane, and where each one's next block lies.
struct LaneGroup {
    alignas(64) uint32_t state[4][16];
    const unsigned char* data[16];
};

// 8 lanes' words w0..w7 from rows[l] = lane l's words: out[w] holds word w
// of every lane.
__attribute__((target("avx2"))) void transpose8(const __m256i* rows, __m256i* out) {
    __m256i t[8], u[8];
    for (int k = 0; k < 4; ++k) {
        t[2 * k] = _mm256_unpacklo_epi32(rows[2 * k], rows[2 * k + 1]);
        t[2 * k + 1] = _mm256_unpackhi_epi32(rows[2 * k], rows[2 * k + 1]);
    }
    for (int k = 0; k < 2; ++k) {
        u[4 * k] = _mm256_unpacklo_epi64(t[4 * k], t[4 * k + 2]);
        u[4 * k + 1] = _mm256_unpackhi_epi64(t[4 * k], t[4 * k + 2]);
        u[4 * k + 2] = _mm256_unpacklo_epi64(t[4 * k + 1], t[4 * k + 3]);
        u[4 * k + 3] = _mm256_unpackhi_epi64(t[4 * k + 1], t[4 * k + 3]);
    }
    for (int j = 0; j < 4; ++j) {
        out[j] = _mm256_permute2x128_si256(u[j], u[4 + j], 0x20);
        out[4 + j] = _mm256_permute2x128_si256(u[j], u[4 + j], 0x31);
    }
}

__attribute__((target("avx2"))) __m256i rotl8(__m256i x, int r) {
    return _mm256_or_si256(_mm256_slli_epi32(x, r), _mm256_srli_epi32(x, 32 - r));
}

__attribute__((target("avx2"))) void avx2Blocks(LaneGroup& g, std::size_t blocks) {
    __m256i s[4];
    for (int k = 0; k < 4; ++k)
        s[k] = _mm256_load_si256(reinterpret_cast<const __m256i*>(g.state[k]));
    for (std::size_t done = 0; done < blocks; ++done) {
        __m256i m[16];
        for (int half = 0; half < 2; ++half) {
            __m256i rows[8];
            for (int l = 0; l < 8; ++l) {
                rows[l] = _mm256_loadu_si256(
                    reinterpret_cast<const __m256i*>(g.data[l] + 64 * done + 32 * half));
            }
            transpose8(rows, m + 8 * half);
        }
        __m256i a = s[0], b = s[1], c = s[2], d = s[3];
        const __m256i ones = _mm256_set1_epi32(-1);
#pragma GCC unroll 64
        for (int i = 0; i < 64; ++i) {
            const int round = i / 16;
            __m256i f =
                round == 0   ? _mm256_xor_si256(d, _mm256_and_si256(b, _mm256_xor_si256(c, d)))
                : round == 1 ? _mm256_xor_si256(c, _mm256_and_si256(d, _mm256_xor_si256(b, c)))
                : round == 2 ? _mm256_xor_si256(_mm256_xor_si256(b, c), d)
                             : _mm256_xor_si256(c, _mm256_or_si256(b, _mm256_xor_si256(d, ones)));
            f = _mm256_add_epi32(_mm256_add_epi32(a, f),
                                 _mm256_add_epi32(_mm256_set1_epi32(int(kSine[i])), m[wordOf(i)]));
            f = _mm256_add_epi32(b, rotl8(f, kShift[round][i % 4]));
            a = d;
            d = c;
            c = b;
            b = f;
        }
        s[0] = _mm256_add_epi32(s[0], a);
        s[1] = _mm256_add_epi32(s[1], b);
        s[2] = _mm256_add_epi32(s[2], c);
        s[3] = _mm256_add_epi32(s[3], d);
    }
    for (int k = 0; k < 4; ++k) _mm256_store_si256(reinterpret_cast<__m256i*>(g.state[k]), s[k]);
}

// Every lane: the masked forms of the AVX-512 operations below leave no
// lane undefined, which the unmasked ones do on paper.
constexpr __mmask16 kAll16 = 0xFFFF;
constexpr __mmask8 kAll8 = 0xFF;

// As transpose8, for 16 lanes of 16 words.
__attribute__((target("avx512f"))) void transpose16(const __m512i* rows, __m512i* out) {
    __m512i t[16], u[16];
    for (int k = 0; k < 8; ++k) {
        t[2 * k] = _mm512_maskz_unpacklo_epi32(kAll16, rows[2 * k], rows[2 * k + 1]);
        t[2 * k + 1] = _mm512_maskz_unpackhi_epi32(kAll16, rows[2 * k], rows[2 * k + 1]);
    }
    for (int k = 0; k < 4; ++k) {
        u[4 * k] = _mm512_maskz_unpacklo_epi64(kAll8, t[4 * k], t[4 * k + 2]);
        u[4 * k + 1] = _mm512_maskz_unpackhi_epi64(kAll8, t[4 * k], t[4 * k + 2]);
        u[4 * k + 2] = _mm512_maskz_unpacklo_epi64(kAll8, t[4 * k + 1], t[4 * k + 3]);
        u[4 * k + 3] = _mm512_maskz_unpackhi_epi64(kAll8, t[4 * k + 1], t[4 * k + 3]);
    }
    // u[4k + j] holds, in its 128-bit quarter q, word 4q + j of lanes 4k..4k+3.
    for (int j = 0; j < 4; ++j) {
        const __m512i v0 = _mm512_maskz_shuffle_i32x4(kAll16, u[j], u[4 + j], 0x44);
        const __m512i v1 = _mm512_maskz_shuffle_i32x4(kAll16, u[j], u[4 + j], 0xEE);
        const __m512i v2 = _mm512_maskz_shuffle_i32x4(kAll16, u[8 + j], u[12 + j], 0x44);
        const __m512i v3 = _mm512_maskz_shuffle_i32x4(kAll16, u[8 + j], u[12 + j], 0xEE);
        out[j] = _mm512_maskz_shuffle_i32x4(kAll16, v0, v2, 0x88);
        out[4 + j] = _mm512_maskz_shuffle_i32x4(kAll16, v0, v2, 0xDD);
        out[8 + j] = _mm512_maskz_shuffle_i32x4(kAll16, v1, v3, 0x88);
        out[12 + j] = _mm512_maskz_shuffle_i32x4(kAll16, v1, v3, 0xDD);
    }
}

__attribute__((target("avx512f"))) void avx512Blocks(LaneGroup& g, std::size_t blocks) {
    __m512i s[4];
    for (int k = 0; k < 4; ++k) s[k] = _mm512_load_si512(g.state[k]);
    for (std::size_t done = 0; done < blocks; ++done) {
        __m512i rows[16], m[16];
        for (int l = 0; l < 16; ++l) rows[l] = _mm512_loadu_si512(g.data[l] + 64 * done);
        transpose16(rows, m);
        __m512i a = s[0], b = s[1], c = s[2], d = s[3];
#pragma GCC unroll 64
        for (int i = 0; i < 64; ++i) {
            const int round = i / 16;
            // Bitwise selections in one instruction each: b ? c : d,
            // d ? b : c, b ^ c ^ d and c ^ (b | ~d).
            __m512i f = round == 0   ? _mm512_ternarylogic_epi32(b, c, d, 0xCA)
                        : round == 1 ? _mm512_ternarylogic_epi32(d, b, c, 0xCA)
                        : round == 2 ? _mm512_ternarylogic_epi32(b, c, d, 0x96)
                                     : _mm512_ternarylogic_epi32(b, c, d, 0x39);
            f = _mm512_add_epi32(_mm512_add_epi32(a, f),
                                 _mm512_add_epi32(_mm512_set1_epi32(int(kSine[i])), m[wordOf(i)]));
            f = _mm512_add_epi32(
                b, _mm512_maskz_rolv_epi32(kAll16, f, _mm512_set1_epi32(kShift[round][i % 4])));
            a = d;
            d = c;
            c = b;
            b = f;
        }
        s[0] = _mm512_add_epi32(s[0], a);
        s[1] = _mm512_add_epi32(s[1], b);
        s[2] = _mm512_add_epi32(s[2], c);
        s[3] = _mm512_add_epi32(s[3], d);
    }
    for (int k = 0; k < 4; ++k) _mm512_store_si512(g.state[k], s[k]);
}

bool hasAvx512() {
    return __builtin_cpu_supports("avx512f");
}

bool hasAvx2() {
    return __builtin_cpu_supports("avx2");
}

// A stream's whole blocks still to hash in updateMany.
struct Pending {
    uint32_t* state;
    const unsigned char* data;
    std::size_t blocks;
};

// Runs `count` (at least 2) of `work`'s streams, all with blocks left,
// through a kernel of `width` lanes for as many blocks as the shortest has.
void advanceGroup(Pending* work, std::size_t count, std::size_t width) {
    LaneGroup g;
    std::size_t blocks = work[0].blocks;
    for (std::size_t l = 0; l < width; ++l) {
        // Spare lanes hash the first stream's bytes again, into nothing.
        const Pending& p = work[l < count ? l : 0];
        for (int k = 0; k < 4; ++k) g.state[k][l] = p.state[k];
        g.data[l] = p.data;
        blocks = std::min(blocks, p.blocks);
    }
    if (width == 16) {
        avx512Blocks(g, blocks);
    } else {
        avx2Blocks(g, blocks);
    }
    for (std::size_t l = 0; l < count; ++l) {
        for (int k = 0; k < 4; ++k) work[l].state[k] = g.state[k][l];
        work[l].data += 64 * blocks;
        work[l].blocks -= blocks;
    }
}

void advanceAll(std::vector<Pending>& work, std::size_t most) {
    const bool wide = most >= 16 && hasAvx512();
    const bool narrow = most >= 8 && hasAvx2();
    for (;;) {
        work.erase(std::remove_if(work.begin(), work.end(),
                                  [](const Pending& p) { return p.blocks == 0; }),
                   work.end());
        if (work.empty()) return;
        // Two streams go faster one after the other than in lanes mostly left empty.
        if (work.size() < 3 || !narrow) {
            for (Pending& p : work) scalarBlocks(p.state, p.data, p.blocks);
            return;
        }
        const std::size_t width = wide ? 16 : 8;
        advanceGroup(work.data(), std::min(work.size(), width), width);
    }
}

}  // namespace

Md5Lane::Md5Lane() {
    std::memcpy(m_state, kInitial, sizeof m_state);
}

std::size_t Md5Lane::width() {
    return hasAvx512() ? 16 : hasAvx2() ? 8 : 1;
}

std::size_t Md5Lane::fillPending(const unsigned char* data, std::size_t n) {
    const std::size_t have = m_bytes % 64;
    if (have == 0) return 0;
    const std::size_t take = std::min(64 - have, n);
    std::memcpy(m_pending + have, data, take);
    m_bytes += take;
    if (have + take == 64) scalarBlocks(m_state, m_pending, 1);
    return take;
}

void Md5Lane::keepTail(const unsigned char* data, std::size_t n) {
    std::memcpy(m_pending, data, n);
    m_bytes += n;
}

void Md5Lane::update(const void* data, std::size_t n) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    const std::size_t took = fillPending(p, n);
    p += took;
    n -= took;
    const std::size_t blocks = n / 64;
    scalarBlocks(m_state, p, blocks);
    m_bytes += 64 * blocks;
    keepTail(p + 64 * blocks, n % 64);
}

void Md5Lane::updateZeros(uint64_t n) {
    static const unsigned char zeros[4096] = {};
    while (n > 0) {
        const std::size_t piece = n < sizeof zeros ? static_cast<std::size_t>(n) : sizeof zeros;
        update(zeros, piece);
        n -= piece;
    }
}

Md5Digest Md5Lane::finish() {
    const uint64_t bits = m_bytes * 8;
    unsigned char padding[72] = {0x80};
    const std::size_t zeros = (119 - m_bytes % 64) % 64;
    for (int i = 0; i < 8; ++i)
        padding[1 + zeros + i] = static_cast<unsigned char>(bits >> (8 * i));
    update(padding, 1 + zeros + 8);
    Md5Digest out;
    for (int k = 0; k < 4; ++k) {
        for (int i = 0; i < 4; ++i)
            out[4 * k + i] = static_cast<unsigned char>(m_state[k] >> (8 * i));
    }
    *this = Md5Lane();
    return out;
}

void Md5Lane::updateMany(Md5Lane* const* lanes, const char* const* data, const std::size_t* sizes,
                         std::size_t count, std::size_t most) {
    std::vector<Pending> work;
    std::vector<std::size_t> tails;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(data[i]);
        const std::size_t took = lanes[i]->fillPending(p, sizes[i]);
        const std::size_t blocks = (sizes[i] - took) / 64;
        work.push_back({lanes[i]->m_state, p + took, blocks});
        tails.push_back(took + 64 * blocks);
        lanes[i]->m_bytes += 64 * blocks;
    }
    advanceAll(work, most);
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(data[i]);
        lanes[i]->keepTail(p + tails[i], sizes[i] - tails[i]);
    }
}

}  // namespace morvane
