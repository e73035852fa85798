/* Tessaly: Base 64 (RFC 4648) encoding and decoding on vector kernels.
 *
 * Every function is reentrant and may run on any number of threads at
 * once; none allocates memory. The kernel is chosen once, on first use,
 * for the CPU the program runs on. Usable from C99 and C++.
 *
 * This interface only grows: names, values and structure sizes that a
 * release has published stay as they are. */
#ifndef TESSALY_H
#define TESSALY_H

#include <stddef.h>

#if defined(_WIN32) && defined(TESSALY_SHARED)
#  if defined(TESSALY_BUILDING)
#    define TESSALY_API __declspec(dllexport)
#  else
#    define TESSALY_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__) && defined(TESSALY_BUILDING)
#  define TESSALY_API __attribute__((visibility("default")))
#else
#  define TESSALY_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define TESSALY_VERSION_MAJOR 1
#define TESSALY_VERSION_MINOR 0
#define TESSALY_VERSION_PATCH 0

/* "MAJOR.MINOR.PATCH" of the library the program runs with, which may be
 * newer than the header it was built with. */
TESSALY_API const char* tessaly_version(void);

/* The name of the kernel this CPU runs: "avx512vbmi2", "avx2", "ssse3",
 * "neon" or "scalar". */
TESSALY_API const char* tessaly_kernel(void);

/* Flags, or-ed together. Each function reads the ones that concern it and
 * passes over the others. */
/* The URL and file name alphabet: "-" and "_" in place of "+" and "/". */
#define TESSALY_URL 0x01u
/* Encoding writes no "=" after a last group of one or two bytes. */
#define TESSALY_OMIT_PADDING 0x02u
/* Encoded lines end in CR LF rather than LF. */
#define TESSALY_CRLF 0x04u
/* Decoding wants the last chunk padded, with its unused bits zero. */
#define TESSALY_STRICT 0x08u
/* Decoding leaves a last chunk of one to three characters unread, for the
 * next call to take with more text; over TESSALY_STRICT where both are
 * given. */
#define TESSALY_STOP_BEFORE_PARTIAL 0x10u
/* Decoding skips every byte outside the alphabet and "=", as it skips
 * white space. */
#define TESSALY_IGNORE_GARBAGE 0x20u

/* Returned by the length functions for a text whose length would not fit
 * in a size_t. */
#define TESSALY_TOO_LONG ((size_t)-1)

/* The exact number of characters tessaly_encode writes for len bytes: with
 * width 0 one unbroken run, with width N a line end after every N
 * characters and after the last line. TESSALY_TOO_LONG where that number
 * is not below SIZE_MAX. */
TESSALY_API size_t tessaly_encoded_length(size_t len, size_t width, unsigned flags);

/* Encodes len bytes at src into dst, which has room for
 * tessaly_encoded_length(len, width, flags) characters, and returns that
 * count. No terminating zero is written. src may be NULL when len is 0.
 * Where the length is TESSALY_TOO_LONG, nothing is written and that is
 * returned. Flags: TESSALY_URL, TESSALY_OMIT_PADDING, TESSALY_CRLF. */
TESSALY_API size_t tessaly_encode(const void* src, size_t len, char* dst, size_t width,
                                  unsigned flags);

/* A streaming encoder, for input that arrives in pieces: any split of the
 * input gives the characters of one tessaly_encode call. The caller owns
 * it (on the stack, in a struct, anywhere); its fields are the functions'
 * own. */
typedef struct tessaly_encoder {
  size_t width_;
  size_t line_left_;
  unsigned flags_;
  unsigned held_len_;
  unsigned char held_[4];
  size_t reserved_[4];
} tessaly_encoder;

TESSALY_API void tessaly_encoder_init(tessaly_encoder* encoder, size_t width, unsigned flags);

/* Encodes the next len bytes; the one or two bytes of a group not yet
 * whole wait for the next call. Returns the number of characters written
 * to dst, which has room for tessaly_encoder_room(len, width, flags). */
TESSALY_API size_t tessaly_encoder_update(tessaly_encoder* encoder, const void* src, size_t len,
                                          char* dst);

/* Writes the last group and the last line end, and returns their count;
 * dst has room for tessaly_encoder_room(0, width, flags), at most 16. The
 * encoder may then be initialised again. */
TESSALY_API size_t tessaly_encoder_finish(tessaly_encoder* encoder, char* dst);

/* The most characters one tessaly_encoder_update of len bytes, or one
 * tessaly_encoder_finish (len 0), writes with this width and these flags;
 * TESSALY_TOO_LONG where that does not fit in a size_t. */
TESSALY_API size_t tessaly_encoder_room(size_t len, size_t width, unsigned flags);

/* The same bound for any width and flags, as a constant expression for
 * buffers sized at compile time; len must be at most SIZE_MAX / 4 - 4. */
#define TESSALY_ENCODER_ROOM_MAX(len) ((((len) + 2) / 3 + 1) * 12 + 4)

/* Room enough for tessaly_decode of len characters never to answer
 * TESSALY_OUTPUT_FULL: the most bytes they can decode to, and one more
 * where len % 4 is 1, so that a last character in error is still found. */
TESSALY_API size_t tessaly_decoded_length_max(size_t len);

typedef enum tessaly_status {
  TESSALY_OK = 0,
  /* A byte outside the alphabet, white space and "=". */
  TESSALY_INVALID_CHARACTER = 1,
  /* "=" after fewer than two characters of a chunk, a lone "=" after two,
   * or anything but white space after the padding. */
  TESSALY_BAD_PADDING = 2,
  /* A last chunk of one character, or under TESSALY_STRICT one without
   * its padding or with unused bits that are not zero. */
  TESSALY_BAD_LAST_CHUNK = 3,
  /* Room ran out with characters other than white space still to decode. */
  TESSALY_OUTPUT_FULL = 4
} tessaly_status;

typedef struct tessaly_result {
  tessaly_status status;
  /* Characters of src used: all of them when decoding ran to the end;
   * otherwise the offset just past the fourth character of the last chunk
   * decoded, or on an error the offset of the byte found wrong where there
   * is one. */
  size_t read;
  /* Bytes written to dst. */
  size_t written;
} tessaly_result;

/* Decodes len characters at src into dst, which has room for room bytes,
 * by the web platform's rules (Uint8Array.fromBase64): white space (space,
 * tab, line feed, form feed, carriage return) is skipped anywhere;
 * characters make chunks of four, each three bytes; "=" only ends the
 * text; a last chunk of two or three characters without padding gives one
 * or two bytes unless TESSALY_STRICT or TESSALY_STOP_BEFORE_PARTIAL says
 * otherwise. A chunk is decoded only if all its bytes fit. On an error the
 * bytes of every whole chunk before it are written. The bytes of dst past
 * the written ones, up to room, may be overwritten: the vector kernels
 * store whole registers and check them after. src and dst may be NULL
 * where len or room is 0. Flags: TESSALY_URL, TESSALY_STRICT,
 * TESSALY_STOP_BEFORE_PARTIAL, TESSALY_IGNORE_GARBAGE. */
TESSALY_API tessaly_result tessaly_decode(const char* src, size_t len, void* dst, size_t room,
                                          unsigned flags);

/* A short English name of a status ("invalid character", ...), for
 * messages; "unknown status" for a value this version does not know. */
TESSALY_API const char* tessaly_status_text(tessaly_status status);

#ifdef __cplusplus
}
#endif

#endif /* TESSALY_H */
