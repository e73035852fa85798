// The URL and file name alphabet differs from the standard one in two
// characters only, so the kernels work in the standard one and the text
// is translated on its way out or in.
#pragma once

#include <cstddef>

namespace tessaly {

// "+" and "/" become "-" and "_"; nothing else changes, line ends neither.
void to_url_alphabet(char* text, std::size_t len);

// "-" and "_" become "+" and "/", and "+" and "/", which the URL alphabet
// lacks, become "*", which the kernels stop at as they stop at any byte
// outside their alphabet.
void from_url_alphabet(const char* in, std::size_t len, char* out);

}  // namespace tessaly
