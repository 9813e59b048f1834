// Reading a script's text and cutting it into batches at its GO lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vandrel {

// Rewrites, in place, every line start "go", "Go" or "gO" after a CR or an LF into
// CR LF "GO": the nine replacements (CR, LF, then CR LF, each followed by the three
// spellings), each over the whole text, non-overlapping, left to right, exact case.
void NormalizarSeparadores(std::string& texto);

// The pieces of `texto` between the separators CR LF "GO", as views into it. k separators
// give k + 1 pieces; an empty text gives none.
std::vector<std::string_view> CortarLotes(std::string_view texto);

}  // namespace vandrel
