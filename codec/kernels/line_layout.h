// Text laid out as encoders write it: lines of one length, each ended by
// the same one or two bytes of white space. The layout, read off the first
// two line ends, fixes where each window of a vector kernel meets a line
// end; that repeats every few windows, so a plan of one period says where
// each window starts and which of its lanes come from past the line end.
// A kernel then walks the text with no branch on what it holds, and checks
// once a round that the text keeps to the layout: every character taken
// must be in the alphabet, and the bytes passed over must be white space,
// which decoding passes over anyway. A window sets its line end's bytes
// aside in the lanes of one vector, for the round's check. Lines must be
// at least a window long, so that a window meets at most one line end.
#pragma once

#include <cstddef>
#include <cstdint>
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

// Windows per round: the check waits for the round, not for each window.
constexpr std::size_t round_windows = 8;
// The longest period planned: lines of 76 characters repeat every 19
// windows, of 64 every one; lengths with a longer period are rare.
constexpr std::size_t longest_period = 64;
// Windows before the first line end that the period does not cover: a
// first line longer than the others.
constexpr std::size_t longest_prologue = 16;

struct window_plan {
  std::uint64_t from_next;  // the lanes taken from past the line end
  std::uint64_t line_end;   // the lanes that hold the line end
  std::size_t offset;       // where the window starts, from the walk's base
};

// The windows up to the period, one period, and a round more, so that a
// round never has to wrap around.
constexpr std::size_t planned_windows = longest_prologue + longest_period + round_windows + 1;

struct lines_plan {
  window_plan windows[planned_windows];
  std::size_t prologue;      // windows
  std::size_t period;        // windows
  std::size_t period_bytes;  // input bytes
};

// Plans windows of width characters from the text's start; false if the
// layout's period is too long, or a two-byte line end would fall across a
// window's last lane (its second byte then lies outside the window, where
// the check does not see it).
inline bool plan_windows(const line_layout& layout, std::size_t width, lines_plan& plan) {
  std::size_t left = layout.first;  // characters before the next line end
  // Once past a line end, what is left of a line is shorter than a line,
  // and the windows repeat.
  plan.prologue = left < layout.length ? 0 : (left - layout.length) / width + 1;
  plan.period = layout.length / std::gcd(layout.length, width);
  if (plan.prologue > longest_prologue || plan.period > longest_period) return false;
  const std::uint64_t lanes = width < 64 ? (std::uint64_t{1} << width) - 1 : ~std::uint64_t{0};
  std::size_t offset = 0;
  const std::size_t planned = plan.prologue + plan.period + round_windows + 1;
  for (std::size_t k = 0; k < planned; ++k) {
    const bool ends = left < width;
    if (ends && left + layout.end_bytes > width) return false;
    const std::uint64_t end_lanes = (std::uint64_t{1} << layout.end_bytes) - 1;
    plan.windows[k] = {ends ? (lanes << left) & lanes : 0, ends ? end_lanes << left : 0, offset};
    offset += ends ? width + layout.end_bytes : width;
    left = ends ? left + layout.length - width : left - width;
  }
  plan.period_bytes =
      plan.windows[plan.prologue + plan.period].offset - plan.windows[plan.prologue].offset;
  return true;
}

// Where a walk is: the start of its next window, that window's place in
// the plan, and where its bytes go.
struct line_walk {
  const char* in;
  std::size_t window;
  std::uint8_t* out;
};

// Whether the input up to stop holds the next windows of the plan, the
// last of them reading reach bytes from its start.
inline bool has_room(const line_walk& walk, const lines_plan& plan, std::size_t windows,
                     std::size_t reach, const char* stop) {
  const window_plan* const at = plan.windows + walk.window;
  return static_cast<std::size_t>(stop - walk.in) >= at[windows - 1].offset - at[0].offset + reach;
}

// Moves walk past the next windows of the plan, which gave bytes bytes.
inline void advance(line_walk& walk, const lines_plan& plan, std::size_t windows,
                    std::size_t bytes) {
  walk.in += plan.windows[walk.window + windows].offset - plan.windows[walk.window].offset;
  walk.out += bytes;
  walk.window += windows;
  // A round may cover more than one period: lines of a window's length
  // repeat every window.
  while (walk.window >= plan.prologue + plan.period) walk.window -= plan.period;
}

}  // namespace tessaly
