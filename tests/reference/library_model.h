// Straightforward models of the library's rules, written from them a
// character at a time and sharing no code with it: the oracle of the
// library's tests and fuzzer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "codec/include/tessaly.h"

namespace library_model {

// The text of data: RFC 4648 sections 4 and 5, a line end after every
// width characters and after the last line, width 0 for none.
std::string encode(std::string_view data, std::size_t width, unsigned flags);

struct decoded {
  tessaly_status status;
  std::size_t read;
  std::string out;
};

// The web platform's decoding of text into at most room bytes.
decoded decode(std::string_view text, std::size_t room, unsigned flags);

}  // namespace library_model
