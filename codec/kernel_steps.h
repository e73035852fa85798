// Scalar steps that the vector kernels share with the scalar one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaly {

// Decodes one group whose characters may be broken by line feeds and
// carriage returns into out[0..2]. Returns the input bytes it takes, or 0
// when another byte or the end of the input comes before the fourth
// alphabet character.
std::size_t decode_broken_group(const char* in, std::size_t len, std::uint8_t* out);

}  // namespace tessaly
