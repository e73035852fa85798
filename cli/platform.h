// What differs between the platforms the program runs on: stream modes,
// pipe sizes, line ends, the stream that carries a -s text, the command
// line's text, how a message shows what the user typed, and standard
// descriptors that are closed when the program starts.
#pragma once

#include <cstddef>
#include <cstdio>

namespace tessaly {

// Whether text lines end in CR LF. Where they do, the encoder writes the
// CR LF itself into binary output: the runtime's text mode translates in
// small pieces and is several times slower.
#if defined(_WIN32)
inline constexpr bool text_lines_end_in_crlf = true;
#else
inline constexpr bool text_lines_end_in_crlf = false;
#endif

// Keeps a closed standard input, output or error from being taken by a
// file the program opens later, while leaving it as unusable as before:
// reading or writing it still fails.
void guard_standard_streams();

// Ends the process with status without the C runtime's clean-up, which
// closes every stream and so may wait on a read under way on another
// thread; standard output and error are flushed first.
[[noreturn]] void end_process_at_once(int status);

// Where the stream is a pipe, makes it as large as an ordinary user may
// (1 MiB on Linux), so that the program and its neighbours move large
// pieces with few system calls. A pipe that cannot grow stays as it is.
void enlarge_pipe(std::FILE* stream);

// Makes a stream pass bytes unchanged where the platform translates line
// ends.
void set_binary_mode(std::FILE* stream);

// A readable stream holding exactly the bytes of text. Null, with errno
// set, when none can be made.
std::FILE* open_text_stream(const char* text);

// Whether argv[index] holds that argument of the command line exactly.
// Windows builds argv from the wide command line in the ANSI code page,
// with look-alikes or "?" for characters the code page lacks.
bool argument_is_exact(int argc, char** argv, int index);

// Opens the file that argv[index] names for binary reading: on Windows by
// the argument's wide form, so that a name the code page lacks opens too.
std::FILE* open_named_file(int argc, char** argv, int index);

// Text of the command line that a message quotes: argv[index] from byte
// `from` to its end. What comes before `from` is an option's name
// ("--wrap=", "-dw"), ASCII, so it is as many characters in the wide form.
struct typed_argument {
  int argc;
  char* const* argv;
  int index;
  int from;
};

// Writes one line, head, the typed text (if any) and tail, to a stream.
// Where the stream is a console, on Windows, the line goes as wide text
// with the typed text from the wide command line, so that a name shows as
// typed whatever the code pages. Everywhere else it goes as the bytes of
// head, argv and tail, as a line built with fprintf would.
void write_line_quoting(std::FILE* stream, const char* head, const typed_argument* typed,
                        const char* tail);

#if defined(_WIN32)
// The wide text of such a line for a console: head and tail read in the
// ANSI code page, with each "\n" as "\r\n" as the runtime's text mode
// writes it, around the typed text in its wide form. Returns its length,
// or 0 when it does not fit in capacity characters.
std::size_t build_console_line(const char* head, const wchar_t* typed, const char* tail,
                               wchar_t* line, std::size_t capacity);
#endif

}  // namespace tessaly
