// What differs between the platforms the program runs on: stream modes,
// the stream that carries a -s text, and standard descriptors that are
// closed when the program starts.
#pragma once

#include <cstdio>

namespace tessaly {

// Keeps a closed standard input, output or error from being taken by a
// file the program opens later, while leaving it as unusable as before:
// reading or writing it still fails.
void guard_standard_streams();

// Makes a stream pass bytes unchanged where the platform translates line
// ends.
void set_binary_mode(std::FILE* stream);

// A readable stream holding exactly the bytes of text. Null, with errno
// set, when none can be made.
std::FILE* open_text_stream(const char* text);

}  // namespace tessaly
