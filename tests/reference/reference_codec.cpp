#include "reference_codec.h"

#include <array>

namespace reference {
namespace {

constexpr std::string_view alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t block_size = 4096;

// Position of each byte in the alphabet, or -1: a table, because the
// fuzzers call this for every byte of long texts.
constexpr std::array<int, 256> make_sextets() {
  std::array<int, 256> table{};
  for (int& v : table) v = -1;
  for (std::size_t i = 0; i < alphabet.size(); ++i)
    table[static_cast<unsigned char>(alphabet[i])] = static_cast<int>(i);
  return table;
}
constexpr std::array<int, 256> sextets = make_sextets();

int sextet(char c) { return sextets[static_cast<unsigned char>(c)]; }

bool is_space(char c) { return c == '\n' || c == '\r' || c == ' ' || c == '\t'; }
bool is_kept(char c) { return c == '=' || sextet(c) >= 0; }

// Whole groups give three bytes; a final group of 2 or 3 sextets gives 1
// or 2, of one sextet nothing. The text holds no "=". Appends to out,
// byte by byte into room made once: the fuzzers decode long texts.
void decode_groups(std::string_view text, std::string& out) {
  std::size_t at = out.size();
  out.resize(at + (text.size() + 3) / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const std::string_view group = text.substr(i, 4);
    std::uint32_t bits = 0;
    for (char c : group) bits = bits << 6 | static_cast<std::uint32_t>(sextet(c));
    bits <<= 6 * (4 - group.size());
    for (std::size_t k = 0; k + 1 < group.size(); ++k) out[at++] = static_cast<char>(bits >> (16 - 8 * k));
  }
  out.resize(at);
}

}  // namespace

void encode_into(std::string_view data, std::int32_t width, std::string& text) {
  text.clear();
  text.reserve((data.size() + 2) / 3 * 4 * 2);
  const auto w = static_cast<std::size_t>(width);
  std::size_t column = 0;
  const auto put = [&](char c) {
    text += c;
    if (w != 0 && ++column == w) {
      text += '\n';
      column = 0;
    }
  };
  for (std::size_t i = 0; i < data.size(); i += 3) {
    const std::string_view group = data.substr(i, 3);
    std::uint32_t bits = 0;
    for (std::size_t k = 0; k < 3; ++k)
      bits = bits << 8 | (k < group.size() ? static_cast<unsigned char>(group[k]) : 0u);
    for (std::size_t k = 0; k < 4; ++k)
      put(k <= group.size() ? alphabet[bits >> (18 - 6 * k) & 63] : '=');
  }
  if (column != 0) text += '\n';
}

std::string encode(std::string_view data, std::int32_t width) {
  std::string text;
  encode_into(data, width, text);
  return text;
}

decoded decode(std::string_view data, bool ignore_garbage) {
  decoded result{{}, true};
  result.out.reserve(data.size() / 4 * 3);
  std::string carry;
  std::string kept;
  kept.reserve(block_size);
  bool ended = false;
  std::size_t pos = 0;
  while (pos < data.size()) {
    const std::string_view block = data.substr(pos, block_size - carry.size());
    pos += block.size();
    kept = carry;
    for (char c : block) {
      if (is_kept(c)) {
        kept += c;
      } else if (!is_space(c) && !ignore_garbage) {
        result.ok = false;
        return result;
      }
    }
    const std::size_t whole = kept.size() / 4 * 4;
    carry = kept.substr(whole);
    kept.resize(whole);
    if (ended) continue;
    const std::size_t pad = kept.find('=');
    decode_groups(std::string_view(kept).substr(0, pad), result.out);
    ended = pad != std::string::npos;
  }
  if (!ended) decode_groups(std::string_view(carry).substr(0, carry.find('=')), result.out);
  return result;
}

}  // namespace reference
