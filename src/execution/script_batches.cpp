#include "execution/script_batches.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "platform/byte_blocks.h"

namespace vandrel {
namespace {

namespace bb = platform::blocks;

constexpr std::string_view kSeparador = "\r\nGO";

// The nine replacements, one after the other, come to this: every CR or LF followed by
// "go", "Go" or "gO" in the original text becomes CR LF "GO". A CR LF pair is never taken
// whole (its LF is taken first, the CR stays in front), the occurrences cannot overlap, and
// what is inserted can start no further occurrence.
bool SeparadorEnMinusculas(const char* p) {
  return (p[0] == '\r' || p[0] == '\n') && (p[1] | 0x20) == 'g' && (p[2] | 0x20) == 'o' &&
         !(p[1] == 'G' && p[2] == 'O');
}

// Matches at p .. p + 15; reads p .. p + 17.
std::uint32_t SeparadoresEnMinusculas(const char* p) {
  const bb::Bytes b0 = bb::Load(p), b1 = bb::Load(p + 1), b2 = bb::Load(p + 2);
  return bb::Bits((bb::Eq(b0, '\r') | bb::Eq(b0, '\n')) & bb::EqFolded(b1, 'g') &
                  bb::EqFolded(b2, 'o') & ~(bb::Eq(b1, 'G') & bb::Eq(b2, 'O')));
}

// Separators at p .. p + 15; reads p .. p + 18.
std::uint32_t Separadores(const char* p) {
  return bb::Bits(bb::Eq(bb::Load(p), '\r') & bb::Eq(bb::Load(p + 1), '\n') &
                  bb::Eq(bb::Load(p + 2), 'G') & bb::Eq(bb::Load(p + 3), 'O'));
}

int HighestBit(std::uint32_t bits) { return 31 - std::countl_zero(bits); }

}  // namespace

void NormalizarSeparadores(std::string& texto) {
  const std::size_t n = texto.size();
  if (n < 3) return;
  // Blocks of 16 candidate positions while their loads stay inside, then single positions.
  const std::size_t bloques = n >= bb::kWidth + 2 ? (n - bb::kWidth - 2) / bb::kWidth + 1 : 0;
  const std::size_t cola = bloques * bb::kWidth;
  auto bloque = [&](std::size_t j) { return SeparadoresEnMinusculas(texto.data() + j * bb::kWidth); };

  std::uint32_t bitsCola = 0;
  for (std::size_t i = cola; i + 2 < n; ++i)
    if (SeparadorEnMinusculas(texto.data() + i)) bitsCola |= 1u << (i - cola);
  std::size_t cuantos = static_cast<std::size_t>(std::popcount(bitsCola));
  for (std::size_t j = 0; j < bloques; ++j) cuantos += static_cast<std::size_t>(std::popcount(bloque(j)));
  if (cuantos == 0) return;

  // Each occurrence grows the text by one: widen it, then move the text up from the end,
  // so that nothing is copied twice and nothing is overwritten before it has been read.
  texto.resize(n + cuantos);
  char* d = texto.data();
  std::size_t origen = n;
  std::size_t destino = n + cuantos;
  auto reemplazar = [&](std::size_t i) {
    const std::size_t resto = origen - (i + 3);
    destino -= resto;
    std::memmove(d + destino, d + i + 3, resto);
    destino -= kSeparador.size();
    std::memcpy(d + destino, kSeparador.data(), kSeparador.size());
    origen = i;
  };
  auto reemplazarBits = [&](std::size_t base, std::uint32_t bits) {
    while (bits != 0) {
      const int b = HighestBit(bits);
      bits &= ~(1u << b);
      reemplazar(base + static_cast<std::size_t>(b));
    }
  };
  // A block's bits are taken before the block above it is moved: its loads reach two bytes
  // into that block, which the move overwrites.
  std::uint32_t siguiente = bloques > 0 ? bloque(bloques - 1) : 0;
  reemplazarBits(cola, bitsCola);
  for (std::size_t j = bloques; j-- > 0;) {
    const std::uint32_t actual = siguiente;
    if (j > 0) siguiente = bloque(j - 1);
    reemplazarBits(j * bb::kWidth, actual);
  }
}

std::vector<std::string_view> CortarLotes(std::string_view texto) {
  std::vector<std::string_view> lotes;
  if (texto.empty()) return lotes;
  const std::size_t n = texto.size();
  const char* d = texto.data();
  std::size_t inicio = 0;
  auto cortar = [&](std::size_t i) {
    lotes.push_back(texto.substr(inicio, i - inicio));
    inicio = i + kSeparador.size();
  };
  std::size_t p = 0;
  for (; p + bb::kWidth + 3 <= n; p += bb::kWidth)
    for (std::uint32_t bits = Separadores(d + p); bits != 0; bits &= bits - 1)
      cortar(p + static_cast<std::size_t>(std::countr_zero(bits)));
  for (; p + kSeparador.size() <= n; ++p)
    if (std::memcmp(d + p, kSeparador.data(), kSeparador.size()) == 0) cortar(p);
  lotes.push_back(texto.substr(inicio));
  return lotes;
}

}  // namespace vandrel
