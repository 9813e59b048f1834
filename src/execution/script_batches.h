// Reading a script's text and cutting it into batches at its GO lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ado/batch_place.h"
#include "platform/error.h"
#include "platform/text_file.h"

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

// Where a batch's failure lies in its script file.
struct LugarEnScript {
  platform::TextPlace lugar;
  bool exacto = false;  // the column is the engine's token, not a statement's or batch's start
  std::uint64_t lineaDelLote = 1;  // the line of the batch's first character
};

// `texto`: the script as read and normalised; `pieza`: the failed batch's piece of it;
// `lugar`: the driver's place in the batch text (the piece followed by CR LF). A place past
// the piece's own text (an error at the end of input) becomes its last character that is
// not blank; a batch's start, its first such character.
LugarEnScript LugarDelFallo(std::string_view texto, std::string_view pieza,
                            const ado::BatchPlace& lugar);

}  // namespace vandrel
