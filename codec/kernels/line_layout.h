// Text laid out as encoders write it: lines of one length, each ended by
// the same one or two bytes of white space. The layout, read off the first
// two line ends, fixes where each window of a vector kernel meets a line
// end, which a kernel works out from the room left on the line as it
// walks, with no branch on what the text holds. It checks once a round
// that the text keeps to the layout: every character taken must be in the
// alphabet, and the bytes passed over must be white space, which decoding
// passes over anyway. Lines must be at least a window long, so that a
// window meets at most one line end.
#pragma once

#include <cstddef>
#include <cstring>
#include <numeric>

#include "codec/alphabet.h"

namespace tessaly {

struct line_layout {
  std::size_t first;      // characters before the first line end
  std::size_t length;     // characters of every line after it
  std::size_t end_bytes;  // 1 or 2
  char end;               // the line end's first byte; the last is a line feed
};

// Longer lines are rare, and unbroken text should not pay for a long
// search.
constexpr std::size_t longest_line = 256;

// The offset of the first line feed in in[from, to), or to.
inline std::size_t find_line_feed(const char* in, std::size_t from, std::size_t to) {
  const void* feed = from < to ? std::memchr(in + from, '\n', to - from) : nullptr;
  return feed ? static_cast<std::size_t>(static_cast<const char*>(feed) - in) : to;
}

// The layout of the text at in, if its first two line ends agree and its
// lines are at least shortest characters long.
inline bool find_layout(const char* in, std::size_t len, std::size_t shortest,
                        line_layout& layout) {
  // A first line of any length up to the longest, and its line end.
  const std::size_t reach = longest_line + 2;
  const std::size_t first_feed = find_line_feed(in, 0, len < reach ? len : reach);
  if (first_feed == len || first_feed == reach) return false;
  const std::size_t limit = len - first_feed < reach + 1 ? len : first_feed + reach + 1;
  const std::size_t second_feed = find_line_feed(in, first_feed + 1, limit);
  if (second_feed == limit) return false;
  const char end = in[second_feed - 1];
  const std::size_t end_bytes = is_white_space(static_cast<unsigned char>(end)) ? 2 : 1;
  if (end_bytes == 2 && (first_feed == 0 || in[first_feed - 1] != end)) return false;
  const std::size_t length = second_feed - first_feed - end_bytes;
  if (length < shortest || length > longest_line) return false;
  layout = {first_feed + 1 - end_bytes, length, end_bytes, end_bytes == 2 ? end : '\n'};
  return true;
}

// Whether a two-byte line end falls across the last lane of some window of
// width characters (a power of two): its second byte then lies outside
// the window, where the check does not see it. Line ends come before
// characters first + j * length, in lane (first + j * length) % width,
// which is width - 1 for some j just when gcd(length, width) divides
// first + 1.
inline bool splits_line_ends(const line_layout& layout, std::size_t width) {
  return layout.end_bytes == 2 && (layout.first + 1) % std::gcd(layout.length, width) == 0;
}

// Whether the remaining bytes of input hold the next windows of a walk,
// each width characters and at most end_bytes of line end long, the last
// of them reading reach bytes from its start.
inline bool holds_windows(std::size_t remaining, std::size_t windows, std::size_t width,
                          std::size_t end_bytes, std::size_t reach) {
  return remaining >= (windows - 1) * (width + end_bytes) + reach;
}

// Windows per round: the check waits for the round, not for each window.
constexpr std::size_t round_windows = 8;

}  // namespace tessaly
