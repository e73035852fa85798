// What the library says of itself: its version, its kernel, its statuses.
#include <cstring>

#include "codec/include/tessaly.h"
#include "codec/kernels.h"

#define TESSALY_TEXT(x) #x
#define TESSALY_VERSION_TEXT(major, minor, patch) \
  TESSALY_TEXT(major) "." TESSALY_TEXT(minor) "." TESSALY_TEXT(patch)

extern "C" {

const char* tessaly_version(void) {
  return TESSALY_VERSION_TEXT(TESSALY_VERSION_MAJOR, TESSALY_VERSION_MINOR,
                              TESSALY_VERSION_PATCH);
}

const char* tessaly_kernel(void) { return tessaly::active_kernel().name; }

const char* tessaly_status_text(tessaly_status status) {
  // A C caller may pass any int, and a value past the enumerators' range
  // is undefined in C++ once read as the enum: read its bytes instead.
  int value;
  static_assert(sizeof value == sizeof status);
  std::memcpy(&value, &status, sizeof value);
  switch (value) {
    case TESSALY_OK: return "ok";
    case TESSALY_INVALID_CHARACTER: return "invalid character";
    case TESSALY_BAD_PADDING: return "bad padding";
    case TESSALY_BAD_LAST_CHUNK: return "bad last chunk";
    case TESSALY_OUTPUT_FULL: return "output full";
  }
  return "unknown status";
}

}  // extern "C"
