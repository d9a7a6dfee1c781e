#include "archive/crc16.h"

#include <array>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {

// Entry k of row j is the CRC register after byte k followed by j zero bytes.
// Row 0 is the byte table that crc16_table hands out; the other rows let the
// loop below take eight bytes per step, which is what makes checking every
// record and every byte of an installation cheap.
using SliceTables = std::array<std::array<uint16_t, 256>, 8>;

// Filled by the first crc16_table, which every caller of crc16 has called:
// 4 KiB that the installer need not carry as constants.
SliceTables slice;
int slice_state = 0;  // 0 empty, 1 being filled, 2 filled

void fill_slice_tables() {
  int expected = 0;
  if (__atomic_compare_exchange_n(&slice_state, &expected, 1, false, __ATOMIC_ACQUIRE, __ATOMIC_ACQUIRE)) {
    for (uint32_t i = 0; i < 256; i++) {
      uint32_t r = i;
      for (int bit = 0; bit < 8; bit++) r = (r & 1) ? (r >> 1) ^ 0xA001 : r >> 1;
      slice[0][i] = uint16_t(r);
    }
    for (int j = 1; j < 8; j++)
      for (uint32_t i = 0; i < 256; i++) slice[j][i] = uint16_t(slice[j - 1][i] >> 8 ^ slice[0][slice[j - 1][i] & 0xFF]);
    __atomic_store_n(&slice_state, 2, __ATOMIC_RELEASE);
  }
  while (__atomic_load_n(&slice_state, __ATOMIC_ACQUIRE) != 2) {
  }
}

}  // namespace

uint8_t* crc16_table() {
  auto* table = static_cast<uint8_t*>(malloc(CRC_TABLE_SIZE));
  if (!table) return nullptr;
  fill_slice_tables();
  for (uint32_t i = 0; i < 256; i++) {
    table[i] = uint8_t(slice[0][i]);
    table[256 + i] = uint8_t(slice[0][i] >> 8);
  }
  return table;
}

#if defined(__x86_64__)
namespace {

// Long runs are first folded with carry-less multiplication: the CRC is the
// remainder of the data's polynomial modulo P = x^16 + x^15 + x^2 + 1 (bit
// order reflected), and a 16-byte block A followed by d more bits may be
// replaced by any F with F = A x^d (mod P), XORed into the block d bits on.
// Four blocks are folded side by side (d = 512), then into one another
// (d = 128), which leaves 16 bytes with the CRC of everything folded.
//
// In reflected order a 16-byte little-endian load holds the first bit at bit
// 0. Its first half times the reflected 64-bit form of x^(d+63) mod P, and
// its second half times that of x^(d-1) mod P, give F reflected: the
// multiplication's one-bit offset in reflected order is the x that the
// exponents leave out.

constexpr uint32_t x_power_mod_p(uint32_t n) {
  uint32_t r = 1;
  for (uint32_t i = 0; i < n; i++) {
    r <<= 1;
    if (r & 0x10000) r ^= 0x18005;
  }
  return r;
}

constexpr int64_t reflected64(uint32_t c) {
  uint64_t r = 0;
  for (int i = 0; i < 16; i++)
    if (c >> i & 1) r |= uint64_t(1) << (63 - i);
  return int64_t(r);
}

constexpr uint32_t FOLD_GROUP = 64;  // bytes folded per step: four blocks

[[gnu::target("pclmul,sse2")]] inline __m128i fold_block(__m128i a, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x00), _mm_clmulepi64_si128(a, k, 0x11));
}

[[gnu::target("pclmul,sse2")]] inline __m128i load_block(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Folds `length` bytes (a multiple of FOLD_GROUP, at least one group) into
// the 16 bytes of `out`, whose CRC is theirs. The first group is read from
// `first` in place of `p`.
[[gnu::target("pclmul,sse2")]] void fold_groups(const uint8_t* first, const uint8_t* p, uint32_t length, uint8_t* out) {
  const __m128i k512 = _mm_set_epi64x(reflected64(x_power_mod_p(511)), reflected64(x_power_mod_p(575)));
  const __m128i k128 = _mm_set_epi64x(reflected64(x_power_mod_p(127)), reflected64(x_power_mod_p(191)));
  __m128i a0 = load_block(first), a1 = load_block(first + 16), a2 = load_block(first + 32), a3 = load_block(first + 48);
  for (uint32_t i = FOLD_GROUP; i < length; i += FOLD_GROUP) {
    a0 = _mm_xor_si128(fold_block(a0, k512), load_block(p + i));
    a1 = _mm_xor_si128(fold_block(a1, k512), load_block(p + i + 16));
    a2 = _mm_xor_si128(fold_block(a2, k512), load_block(p + i + 32));
    a3 = _mm_xor_si128(fold_block(a3, k512), load_block(p + i + 48));
  }
  __m128i t = _mm_xor_si128(fold_block(a0, k128), a1);
  t = _mm_xor_si128(fold_block(t, k128), a2);
  t = _mm_xor_si128(fold_block(t, k128), a3);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), t);
}

// Below this the tables are as fast.
constexpr uint32_t FOLD_FROM = 128;
static_assert(FOLD_FROM >= FOLD_GROUP, "the first group is copied whole");

// Asked of the processor once. cpuid directly rather than the compiler's
// run-time support, whose start-up code would grow the installer by 8 KiB.
// Threads that race here compute the same answer.
int have_pclmul() {
  static int known = 0;  // 0 not asked yet, 1 no, 2 yes
  int k = __atomic_load_n(&known, __ATOMIC_RELAXED);
  if (k == 0) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    k = __get_cpuid(1, &a, &b, &c, &d) && (c & bit_PCLMUL) && (d & bit_SSE2) ? 2 : 1;
    __atomic_store_n(&known, k, __ATOMIC_RELAXED);
  }
  return k == 2;
}

}  // namespace
#endif

// The register is kept as its two bytes, H and L; ending with L in the high
// position gives the byte-exchanged (stored) form without a final swap. Whole
// groups of eight bytes go through the sliced tables (the same register,
// h << 8 | l), the rest through the caller's byte table.
uint16_t crc16(const uint8_t* table, const uint8_t* data, uint32_t length) {
  return crc16_continue(table, 0, data, length);
}

uint16_t crc16_continue(const uint8_t* table, uint16_t previous, const uint8_t* data, uint32_t length) {
  uint32_t r = uint32_t(previous & 0xFF) << 8 | previous >> 8;
#if defined(__x86_64__)
  if (length >= FOLD_FROM && have_pclmul()) {
    // A register R before the data is the same as R XORed into its first two
    // bytes with a register of 0, so a continued CRC folds like a fresh one.
    uint8_t first[FOLD_GROUP];
    memcpy(first, data, FOLD_GROUP);
    first[0] ^= uint8_t(r);
    first[1] ^= uint8_t(r >> 8);
    // The folded 16 bytes, then what is left of the data, go the table way.
    const uint32_t folded = length / FOLD_GROUP * FOLD_GROUP;
    uint8_t rest[16 + FOLD_GROUP];
    fold_groups(first, data, folded, rest);
    memcpy(rest + 16, data + folded, length - folded);
    return crc16_continue(table, 0, rest, 16 + (length - folded));
  }
#endif
  uint32_t i = 0;
  for (; length - i >= 8; i += 8) {
    const uint8_t* p = data + i;
    uint32_t x = r ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8);
    r = slice[7][x & 0xFF] ^ slice[6][x >> 8] ^ slice[5][p[2]] ^ slice[4][p[3]] ^ slice[3][p[4]] ^
        slice[2][p[5]] ^ slice[1][p[6]] ^ slice[0][p[7]];
  }
  uint32_t h = r >> 8, l = r & 0xFF;
  for (; i < length; i++) {
    uint32_t index = l ^ data[i];
    l = h ^ table[index];
    h = table[256 + index];
  }
  return uint16_t(l << 8 | h);
}
