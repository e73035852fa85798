// Runs the codec streams over in-memory text, for the unit tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "codec/base64.h"

struct stream_result {
  tessaly::stream_status status;
  std::string out;
};

stream_result run_encode(std::string_view input, std::int32_t width,
                         tessaly::line_end eol = tessaly::line_end::lf);
stream_result run_decode(std::string_view input, bool ignore_garbage);

// The reference encoding, unwrapped.
std::string reference_encode(std::string_view input);

// Equality of long byte strings, reported by the first difference rather
// than by printing both.
testing::AssertionResult same_bytes(std::string_view got, std::string_view want);
