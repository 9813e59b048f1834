#include "execution/script_batches.h"

namespace vandrel {
namespace {

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    std::size_t hit = text.find(from, pos);
    if (hit == std::string::npos) break;
    out.append(text, pos, hit - pos);
    out.append(to);
    pos = hit + from.size();
  }
  if (pos == 0) return;
  out.append(text, pos);
  text.swap(out);
}

}  // namespace

void NormalizarSeparadores(std::string& texto) {
  static constexpr std::string_view kBuscar[] = {"\rgo",   "\rGo",   "\rgO",
                                                 "\ngo",   "\nGo",   "\ngO",
                                                 "\r\ngo", "\r\nGo", "\r\ngO"};
  for (std::string_view buscar : kBuscar) ReplaceAll(texto, buscar, "\r\nGO");
}

std::vector<std::string_view> CortarLotes(std::string_view texto) {
  std::vector<std::string_view> lotes;
  if (texto.empty()) return lotes;
  constexpr std::string_view kSeparador = "\r\nGO";
  std::size_t pos = 0;
  for (;;) {
    std::size_t hit = texto.find(kSeparador, pos);
    if (hit == std::string_view::npos) break;
    lotes.push_back(texto.substr(pos, hit - pos));
    pos = hit + kSeparador.size();
  }
  lotes.push_back(texto.substr(pos));
  return lotes;
}

}  // namespace vandrel
