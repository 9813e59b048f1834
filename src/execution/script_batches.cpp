#include "execution/script_batches.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "platform/byte_blocks.h"

namespace vandrel {
namespace {

namespace bb = platform::blocks;

constexpr std::string_view kSeparador = "\r\nGO";

// Replacing each of CR and LF followed by each of "go", "Go" and "gO" in turn, over the
// whole text, comes to this: every CR or LF followed by
// "go", "Go" or "gO" in the original text becomes CR LF "GO". A CR LF pair is never taken
// whole (its LF is taken first, the CR stays in front), the occurrences cannot overlap, and
// what is inserted can start no further occurrence. An LF that does not follow a CR is
// taken before "GO" too: without it, a script with LF line ends and upper-case GO lines
// ran as one piece, that is to say not at all.
bool Ocurrencia(const char* d, std::size_t i) {
  const char* p = d + i;
  if ((p[0] != '\r' && p[0] != '\n') || (p[1] | 0x20) != 'g' || (p[2] | 0x20) != 'o') return false;
  if (p[1] != 'G' || p[2] != 'O') return true;
  return p[0] == '\n' && (i == 0 || p[-1] != '\r');
}

// Bit i set when p[i] is CR or LF and p[i + 1] is "g" or "G", for i < 64; reads up to p + 64.
std::uint64_t LineaConG(const char* p) {
  bb::Mask m[4];
  for (std::size_t k = 0; k < 4; ++k) {
    const bb::Bytes a = bb::Load(p + 16 * k);
    m[k] = (bb::Eq(a, '\r') | bb::Eq(a, '\n')) & bb::EqFolded(bb::Load(p + 16 * k + 1), 'g');
  }
  if (bb::Bits(m[0] | m[1] | m[2] | m[3]) == 0) return 0;
  return bb::Bits(m[0]) | std::uint64_t{bb::Bits(m[1])} << 16 |
         std::uint64_t{bb::Bits(m[2])} << 32 | std::uint64_t{bb::Bits(m[3])} << 48;
}

// Occurrences starting at p .. p + 63 of a text of n > p + 64 bytes; reads up to p + 65.
std::uint64_t Ocurrencias(const char* d, std::size_t p, std::size_t n) {
  std::uint64_t found = 0;
  for (std::uint64_t bits = LineaConG(d + p); bits != 0; bits &= bits - 1) {
    const std::size_t i = p + static_cast<std::size_t>(std::countr_zero(bits));
    if (i + 2 < n && Ocurrencia(d, i)) found |= std::uint64_t{1} << (i - p);
  }
  return found;
}

int HighestBit(std::uint64_t bits) { return 63 - std::countl_zero(bits); }

}  // namespace

void NormalizarSeparadores(std::string& texto) {
  const std::size_t n = texto.size();
  if (n < 3) return;
  // Strides of 64 positions while their loads stay inside, then the last few one by one.
  const std::size_t bloques = (n - 1) / bb::kStride;
  const std::size_t cola = bloques * bb::kStride;
  auto bloque = [&](std::size_t j) {
    return Ocurrencias(texto.data(), j * bb::kStride, n);
  };

  std::uint64_t bitsCola = 0;
  for (std::size_t i = cola; i + 2 < n; ++i)
    if (Ocurrencia(texto.data(), i)) bitsCola |= std::uint64_t{1} << (i - cola);
  // Occurrences are rare: clearing bits one by one beats a popcount without the instruction.
  std::size_t cuantos = 0;
  for (std::uint64_t bits = bitsCola; bits != 0; bits &= bits - 1) ++cuantos;
  for (std::size_t j = 0; j < bloques; ++j)
    for (std::uint64_t bits = bloque(j); bits != 0; bits &= bits - 1) ++cuantos;
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
  auto reemplazarBits = [&](std::size_t base, std::uint64_t bits) {
    while (bits != 0) {
      const int b = HighestBit(bits);
      bits &= ~(std::uint64_t{1} << b);
      reemplazar(base + static_cast<std::size_t>(b));
    }
  };
  // A stride's occurrences are found before the stride above it is moved: finding them
  // reads two bytes into that stride, which the move overwrites. Below the first
  // occurrence nothing moves.
  std::uint64_t siguiente = bloques > 0 ? bloque(bloques - 1) : 0;
  reemplazarBits(cola, bitsCola);
  for (std::size_t j = bloques; j-- > 0 && destino != origen;) {
    const std::uint64_t actual = siguiente;
    if (j > 0) siguiente = bloque(j - 1);
    reemplazarBits(j * bb::kStride, actual);
  }
}

namespace {

std::string ConMiles(std::int64_t n) {
  std::string digits = std::to_string(n);
  for (auto i = static_cast<std::ptrdiff_t>(digits.size()) - 3; i > 0; i -= 3)
    digits.insert(static_cast<std::size_t>(i), ",");
  return digits;
}

}  // namespace

Error DemasiadosLotes(std::int64_t lotes) {
  return Error(Overflow().Description() + std::string(": the script has ") + ConMiles(lotes) +
               " batches; at most " + ConMiles(kMaxLotes) +
               " can run: split it into several scripts.");
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
  for (; p + bb::kStride + 2 < n; p += bb::kStride)
    for (std::uint64_t bits = bb::FindPair64(d + p, '\r', 2, 'G', true); bits != 0;
         bits &= bits - 1) {
      const std::size_t i = p + static_cast<std::size_t>(std::countr_zero(bits));
      if (i + kSeparador.size() <= n &&
          std::memcmp(d + i, kSeparador.data(), kSeparador.size()) == 0)
        cortar(i);
    }
  for (; p + kSeparador.size() <= n; ++p)
    if (std::memcmp(d + p, kSeparador.data(), kSeparador.size()) == 0) cortar(p);
  lotes.push_back(texto.substr(inicio));
  return lotes;
}

LugarEnScript LugarDelFallo(std::string_view texto, std::string_view pieza,
                            const ado::BatchPlace& lugar) {
  constexpr std::string_view kBlancos = " \t\r\n\f\v";
  const auto primero = pieza.find_first_not_of(kBlancos);
  const auto ultimo = pieza.find_last_not_of(kBlancos);
  std::size_t en = 0;
  if (primero != std::string_view::npos) {
    en = lugar.kind == ado::BatchPlace::Kind::Batch ? primero : std::min(lugar.offset, ultimo);
  }
  const auto inicio = static_cast<std::size_t>(pieza.data() - texto.data());
  platform::ReadTextPlaces lugares(texto);
  LugarEnScript resultado;
  resultado.lineaDelLote = lugares.At(inicio).line;
  resultado.lugar = lugares.At(inicio + en);
  resultado.exacto = lugar.kind == ado::BatchPlace::Kind::Exact;
  return resultado;
}

}  // namespace vandrel
