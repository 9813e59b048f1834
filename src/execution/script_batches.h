// Reading a script's text and cutting it into batches at its GO lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace vandrel {

// Rewrites, in place, every line start "go", "Go" or "gO" after a CR or an LF into
// CR LF "GO": nine replacements (CR, LF, then CR LF, each followed by the three
// spellings), each over the whole text, non-overlapping, left to right, exact case. After
// an LF that does not follow a CR, "GO" is rewritten the same way.
void NormalizarSeparadores(std::string& texto);

// The pieces of `texto` between the separators CR LF "GO", as views into it. k separators
// give k + 1 pieces; an empty text gives none.
std::vector<std::string_view> CortarLotes(std::string_view texto);

// The most batches (pieces but the last) one script can run: the batch index is a signed
// 16-bit number.
constexpr std::int64_t kMaxLotes = 32767;

// The overflow of a script with `lotes` batches, saying what to do about it.
Error DemasiadosLotes(std::int64_t lotes);

}  // namespace vandrel
