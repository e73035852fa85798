/* A program of someone else's that uses the installed library: every
 * function once, on vectors worked by hand, in C99. It exits 1 on the
 * first answer that differs, so a build that links or loads the library
 * wrongly (a missing export, a broken import library, a header that
 * disagrees with the library) cannot pass. */
#include <stdio.h>
#include <string.h>

#include <tessaly.h>

#define TEXT(x) #x
#define VERSION_TEXT(major, minor, patch) TEXT(major) "." TEXT(minor) "." TEXT(patch)

static int failures = 0;

static void expect(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "consumer: %s\n", what);
    failures = 1;
  }
}

static int same(const char* got, size_t got_len, const char* want) {
  return got_len == strlen(want) && memcmp(got, want, got_len) == 0;
}

int main(void) {
  static const char* const kernels[] = {"avx512vbmi2", "avx2", "ssse3", "neon", "scalar"};
  const char* kernel = tessaly_kernel();
  int known = 0;
  size_t i;
  char text[32];
  unsigned char bytes[8];
  size_t n;
  tessaly_encoder encoder;
  tessaly_result result;

  expect(strcmp(tessaly_version(), VERSION_TEXT(TESSALY_VERSION_MAJOR, TESSALY_VERSION_MINOR,
                                                TESSALY_VERSION_PATCH)) == 0,
         "tessaly_version() is not the header's version");
  for (i = 0; i < sizeof kernels / sizeof kernels[0]; ++i)
    known |= kernel != NULL && strcmp(kernel, kernels[i]) == 0;
  expect(known, "tessaly_kernel() names no kernel");
  expect(strcmp(tessaly_status_text(TESSALY_INVALID_CHARACTER), "invalid character") == 0,
         "tessaly_status_text(TESSALY_INVALID_CHARACTER)");

  /* RFC 4648's "foobar" in lines of 4 with CR LF; two bytes whose
   * characters differ between the alphabets, without padding. */
  expect(tessaly_encoded_length(6, 4, TESSALY_CRLF) == 12, "tessaly_encoded_length(6, 4, CRLF)");
  n = tessaly_encode("foobar", 6, text, 4, TESSALY_CRLF);
  expect(same(text, n, "Zm9v\r\nYmFy\r\n"), "tessaly_encode(\"foobar\", 4, CRLF)");
  n = tessaly_encode("\xfb\xff", 2, text, 0, TESSALY_URL | TESSALY_OMIT_PADDING);
  expect(same(text, n, "-_8"), "tessaly_encode(fb ff, URL | OMIT_PADDING)");

  /* "foobar" in pieces of 2 and 4 bytes, as one call gives it. */
  expect(tessaly_encoder_room(4, 0, 0) <= TESSALY_ENCODER_ROOM_MAX(4) &&
             tessaly_encoder_room(4, 0, 0) >= 8,
         "tessaly_encoder_room(4, 0, 0)");
  tessaly_encoder_init(&encoder, 0, 0);
  n = tessaly_encoder_update(&encoder, "fo", 2, text);
  n += tessaly_encoder_update(&encoder, "obar", 4, text + n);
  n += tessaly_encoder_finish(&encoder, text + n);
  expect(same(text, n, "Zm9vYmFy"), "the streaming encoder on \"fo\" and \"obar\"");

  expect(tessaly_decoded_length_max(8) == 6, "tessaly_decoded_length_max(8)");
  result = tessaly_decode("Zm9v YmFy\n", 10, bytes, sizeof bytes, 0);
  expect(result.status == TESSALY_OK && result.read == 10 && same((const char*)bytes, result.written,
                                                                   "foobar"),
         "tessaly_decode(\"Zm9v YmFy\\n\")");
  result = tessaly_decode("Zm9v!mFy", 8, bytes, sizeof bytes, 0);
  expect(result.status == TESSALY_INVALID_CHARACTER && result.read == 4 && result.written == 3,
         "tessaly_decode(\"Zm9v!mFy\"): not an invalid character at 4 after 3 bytes");

  if (failures == 0) printf("consumer: Tessaly %s, kernel %s: every answer right\n",
                            tessaly_version(), kernel);
  return failures;
}
