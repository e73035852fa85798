// Reading the streams' input as it arrives, so that output can follow each
// piece of a slow producer instead of waiting for a full buffer.
#pragma once

#include <cstddef>
#include <cstdio>

namespace tessaly {

// Reads up to size bytes into buffer: what has arrived, waiting only while
// nothing has. Returns the count, 0 at the end of the input, or -1 on a
// read error with errno set. A stream with a descriptor is read through
// it (a read interrupted by a signal is retried); one without, such as a
// stream over memory, through the stream itself.
std::ptrdiff_t read_available(std::FILE* input, void* buffer, std::size_t size);

// What stands in for read_available, so that tests and fuzzers can hand
// the streams their input in pieces of the sizes they choose.
using input_reader = std::ptrdiff_t (*)(std::FILE* input, void* buffer, std::size_t size);

// Makes the streams read through reader; null goes back to the input's
// own reading.
void use_input_reader(input_reader reader);

// Bytes of a regular file beyond where its descriptor stands; a block
// device counts as endless. -1 where it cannot be told.
long long file_bytes_left(std::FILE* stream);

// The processors this process may run on, by its affinity; 1 where that
// cannot be told.
int processors_to_run_on();

}  // namespace tessaly
