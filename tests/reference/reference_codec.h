// Straightforward models of the codec, written from its rules and sharing
// no code with it: the oracle of the exhaustive tests and the fuzzers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace reference {

// RFC 4648 text of data in lines of width characters, each ended by a
// newline; width 0 gives one run without a newline.
std::string encode(std::string_view data, std::int32_t width);

// The same into text, whose buffer is reused: the fuzzers encode hundreds
// of KiB, and a fresh buffer each time costs more than the encoding.
void encode_into(std::string_view data, std::int32_t width, std::string& text);

struct decoded {
  std::string out;
  bool ok;  // false: invalid input, out holds the earlier blocks' bytes
};

// The decoding stream's result for the whole input: blocks of the carried
// characters plus the next (4096 - carried) raw bytes; a strict block with
// garbage ends the run; the first "=" of the input ends the data, though
// later blocks are still checked for garbage.
decoded decode(std::string_view data, bool ignore_garbage);

}  // namespace reference
