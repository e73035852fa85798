// The block decoder with the text's length known, for the decoding stream.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaly {

// As decode_block, over the first len bytes of text (which also stops at a
// zero byte).
std::int32_t decode_text(std::uint8_t* out, const char* text, std::size_t len);

}  // namespace tessaly
