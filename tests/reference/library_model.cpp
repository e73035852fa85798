#include "library_model.h"

namespace library_model {
namespace {

constexpr std::string_view standard =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view url =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

std::string_view alphabet(unsigned flags) { return flags & TESSALY_URL ? url : standard; }

bool is_white(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

// The bytes of a chunk of two to four sextets, and whether the bits after
// them are zero.
std::string chunk_bytes(const std::string& sextets, bool& unused_zero) {
  unsigned bits = 0;
  for (char v : sextets) bits = bits << 6 | static_cast<unsigned char>(v);
  const std::size_t n = sextets.size() - 1;
  const std::size_t spare = sextets.size() * 6 - n * 8;
  unused_zero = (bits & ((1u << spare) - 1)) == 0;
  bits >>= spare;
  std::string out;
  for (std::size_t i = n; i-- > 0;) out += static_cast<char>(bits >> (8 * i) & 0xFF);
  return out;
}

}  // namespace

std::string encode(std::string_view data, std::size_t width, unsigned flags) {
  const std::string_view a = alphabet(flags);
  std::string text;
  for (std::size_t i = 0; i < data.size(); i += 3) {
    const std::size_t n = data.size() - i < 3 ? data.size() - i : 3;
    unsigned bits = 0;
    for (std::size_t j = 0; j < 3; ++j)
      bits = bits << 8 | (j < n ? static_cast<unsigned char>(data[i + j]) : 0u);
    for (std::size_t j = 0; j <= n; ++j) text += a[bits >> (18 - 6 * j) & 63];
    if (!(flags & TESSALY_OMIT_PADDING)) text.append(3 - n, '=');
  }
  if (width == 0) return text;
  const std::string end = flags & TESSALY_CRLF ? "\r\n" : "\n";
  std::string lines;
  for (std::size_t i = 0; i < text.size(); i += width) lines += text.substr(i, width) + end;
  return lines;
}

decoded decode(std::string_view text, std::size_t room, unsigned flags) {
  const std::string_view a = alphabet(flags);
  const bool stop = flags & TESSALY_STOP_BEFORE_PARTIAL;
  const bool strict = (flags & TESSALY_STRICT) && !stop;
  auto skipped = [&](char c) {
    return is_white(c) || ((flags & TESSALY_IGNORE_GARBAGE) && c != '=' &&
                           a.find(c) == std::string_view::npos);
  };
  auto skip = [&](std::size_t i) {
    while (i < text.size() && skipped(text[i])) ++i;
    return i;
  };
  std::string out;
  std::size_t read = 0;
  // Room is used up at read: only what remains says whether that is an
  // error.
  auto full = [&]() {
    for (std::size_t i = read; i < text.size(); ++i)
      if (!skipped(text[i])) return decoded{TESSALY_OUTPUT_FULL, read, out};
    return decoded{TESSALY_OK, read, out};
  };
  if (room == 0) return full();
  std::string chunk;
  std::size_t last = 0;
  std::size_t i = 0;
  bool unused_zero = true;
  for (;;) {
    i = skip(i);
    if (i == text.size()) {
      if (chunk.empty()) return {TESSALY_OK, text.size(), out};
      if (stop) return {TESSALY_OK, read, out};
      if (chunk.size() == 1 || strict) return {TESSALY_BAD_LAST_CHUNK, read, out};
      out += chunk_bytes(chunk, unused_zero);
      return {TESSALY_OK, text.size(), out};
    }
    const char c = text[i++];
    if (c == '=') {
      if (chunk.size() < 2) return {TESSALY_BAD_PADDING, i - 1, out};
      i = skip(i);
      if (chunk.size() == 2) {
        if (i == text.size()) return {stop ? TESSALY_OK : TESSALY_BAD_PADDING, read, out};
        if (text[i] == '=') i = skip(i + 1);
      }
      if (i < text.size()) return {TESSALY_BAD_PADDING, i, out};
      const std::string bytes = chunk_bytes(chunk, unused_zero);
      if (strict && !unused_zero) return {TESSALY_BAD_LAST_CHUNK, last, out};
      return {TESSALY_OK, text.size(), out + bytes};
    }
    const std::size_t v = a.find(c);
    if (v == std::string_view::npos) return {TESSALY_INVALID_CHARACTER, i - 1, out};
    const std::size_t left = room - out.size();
    if ((left == 1 && chunk.size() == 2) || (left == 2 && chunk.size() == 3)) return full();
    chunk += static_cast<char>(v);
    last = i - 1;
    if (chunk.size() == 4) {
      out += chunk_bytes(chunk, unused_zero);
      chunk.clear();
      read = i;
      if (out.size() == room) return full();
    }
  }
}

}  // namespace library_model
