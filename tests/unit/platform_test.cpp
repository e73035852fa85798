// A line that quotes what the user typed: a file or a pipe gets the bytes
// it always got, and a Windows console gets wide text with the typed text
// as typed, whatever the code pages. The unit suite's streams are files and
// pipes, so this is where the console's line itself is checked; the
// black-box suite checks what a terminal shows of it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli/platform.h"

namespace {

struct quoting_case {
  const char* head;
  std::string argument;  // as the runtime hands it over in the ANSI code page
  int from;
  const char* tail;
  std::string bytes;  // what a file gets
  const wchar_t* typed;  // the typed text as the wide command line holds it
  const wchar_t* console_line;  // what a console gets
};

std::string written_to_file(const quoting_case& c) {
  std::string program = "base64", argument = c.argument;
  char* argv[] = {program.data(), argument.data(), nullptr};
  const tessaly::typed_argument typed{2, argv, 1, c.from};
  std::FILE* file = std::tmpfile();
  if (file == nullptr) return "(no temporary file)";
  tessaly::write_line_quoting(file, c.head, &typed, c.tail);
  std::rewind(file);
  std::string bytes;
  for (int ch; (ch = std::fgetc(file)) != EOF;) bytes += static_cast<char>(ch);
  std::fclose(file);
  return bytes;
}

TEST(LineQuoting, FilesGetTheBytesAndConsolesTheTypedText) {
  const quoting_case cases[] = {
      // A CJK name that code page 1252 lacks, and one in 936, which has it.
      {"base64: ", "??.txt", 0, ": No such file or directory\n",
       "base64: ??.txt: No such file or directory\n", L"\u6570\u636e.txt",
       L"base64: \u6570\u636e.txt: No such file or directory\r\n"},
      {"base64: ", "\xca\xfd\xbe\xdd.txt", 0, ": No such file or directory\n",
       "base64: \xca\xfd\xbe\xdd.txt: No such file or directory\n", L"\u6570\u636e.txt",
       L"base64: \u6570\u636e.txt: No such file or directory\r\n"},
      // Polish in 1252 (look-alikes) and in 1250 (its own bytes).
      {"base64: ", "zolw", 0, ": No such file or directory\n",
       "base64: zolw: No such file or directory\n", L"\u017c\u00f3\u0142w",
       L"base64: \u017c\u00f3\u0142w: No such file or directory\r\n"},
      {"base64: ", "\xbf\xf3\xb3w", 0, ": No such file or directory\n",
       "base64: \xbf\xf3\xb3w: No such file or directory\n", L"\u017c\u00f3\u0142w",
       L"base64: \u017c\u00f3\u0142w: No such file or directory\r\n"},
      // An option's argument after its name, one character beyond the
      // Basic Multilingual Plane (two UTF-16 units), and a long option.
      {"base64: Invalid argument for wrap '", "--wrap=?", 7, "' (expect nonzero integer)\n",
       "base64: Invalid argument for wrap '?' (expect nonzero integer)\n", L"\U00020BB7",
       L"base64: Invalid argument for wrap '\U00020BB7' (expect nonzero integer)\r\n"},
      {"illegal long option --", "--d\xea", 2, "\n", "illegal long option --d\xea\n", L"d\u0119",
       L"illegal long option --d\u0119\r\n"},
  };
  for (const quoting_case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(written_to_file(c), c.bytes);
#if defined(_WIN32)
    wchar_t line[256];
    const std::size_t length = tessaly::build_console_line(c.head, c.typed, c.tail, line, 256);
    EXPECT_EQ(std::wstring(line, length), c.console_line);
#endif
  }
}

#if defined(_WIN32)
TEST(LineQuoting, AConsoleLineThatDoesNotFitIsNotMade) {
  // "ab", the typed text, then "\r\n" for the "\n".
  const wchar_t typed[] = L"\u6570";
  wchar_t line[5];
  EXPECT_EQ(tessaly::build_console_line("ab", typed, "\n", line, 5), 5u);
  EXPECT_EQ(std::wstring(line, 5), L"ab\u6570\r\n");
  for (std::size_t capacity = 0; capacity < 5; ++capacity)
    EXPECT_EQ(tessaly::build_console_line("ab", typed, "\n", line, capacity), 0u) << capacity;
}
#endif

}  // namespace
