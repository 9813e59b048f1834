// Sixteen bytes compared at once, for the scans over a whole script. The compiler turns the
// vector operations into SSE2 or NEON; only the final bit mask has a per-target form.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vandrel::platform::blocks {

constexpr std::size_t kWidth = 16;

using Bytes = unsigned char __attribute__((vector_size(16)));
using Mask = signed char __attribute__((vector_size(16)));  // 0 or -1 per byte

inline Bytes Load(const char* p) {
  Bytes b;
  std::memcpy(&b, p, sizeof b);
  return b;
}

inline Bytes Splat(char c) {
  Bytes b;
  std::memset(&b, c, sizeof b);
  return b;
}

inline Mask Eq(Bytes b, char c) { return b == Splat(c); }

// Bytes whose letter, folded to lower case, is `lower` (an ASCII lower-case letter).
inline Mask EqFolded(Bytes b, char lower) { return (b | Splat(0x20)) == Splat(lower); }

// Bit i set when byte i of the mask is set.
inline std::uint32_t Bits(Mask m) {
#if defined(__SSE2__)
  __m128i v;
  std::memcpy(&v, &m, sizeof v);
  return static_cast<std::uint32_t>(_mm_movemask_epi8(v));
#else
  std::uint64_t half[2];
  std::memcpy(half, &m, sizeof half);
  if ((half[0] | half[1]) == 0) return 0;
  std::uint32_t bits = 0;
  for (std::size_t i = 0; i < kWidth; ++i)
    if (m[i] != 0) bits |= 1u << i;
  return bits;
#endif
}

// True when some byte has its high bit set (not ASCII).
inline bool AnyHigh(Bytes b) {
  std::uint64_t half[2];
  std::memcpy(half, &b, sizeof half);
  return ((half[0] | half[1]) & 0x8080808080808080ull) != 0;
}

// 64 bytes at a time: the common case, no byte of interest, costs one test.
constexpr std::size_t kStride = 64;

// Bit i set when p[i] is `a` and p[i + skip] is `b`, for i < 64; reads up to p + 63 + skip.
inline std::uint64_t FindPair64(const char* p, char a, std::size_t skip, char b, bool equal) {
  Mask m[4];
  for (std::size_t k = 0; k < 4; ++k) {
    const Mask second = Eq(Load(p + 16 * k + skip), b);
    m[k] = Eq(Load(p + 16 * k), a) & (equal ? second : ~second);
  }
  if (Bits(m[0] | m[1] | m[2] | m[3]) == 0) return 0;
  return Bits(m[0]) | std::uint64_t{Bits(m[1])} << 16 | std::uint64_t{Bits(m[2])} << 32 |
         std::uint64_t{Bits(m[3])} << 48;
}

// True when one of the 64 bytes at p is not ASCII.
inline bool AnyHigh64(const char* p) {
  return AnyHigh(Load(p) | Load(p + 16) | Load(p + 32) | Load(p + 48));
}

}  // namespace vandrel::platform::blocks
