// The program's fixed texts.
#pragma once

namespace tessaly {

inline constexpr char display_name[] = "Tessaly";
inline constexpr char version_text[] = "1.0.0";

inline constexpr char usage_format[] = "Usage: %s [OPTION]...  [FILE]\n";
inline constexpr char description[] =
    "Base64 encode or decode FILE, or standard input, and print to standard "
    "output";
inline constexpr char help_hint_format[] =
    "Try `%s --help' for more information.\n";
inline constexpr char wrap_error_format[] =
    "Invalid argument for wrap '%s' (expect nonzero integer)";
inline constexpr char temporary_file_error[] = "Could not create temporary file";
inline constexpr char unrepresentable_text_error[] =
    "the -s text has characters that the current code page cannot represent; "
    "put it in a file and name the file instead";
inline constexpr char invalid_input_error[] = "invalid input";
inline constexpr char write_error[] = "write error";

inline constexpr char help_text[] =
    "With no FILE, or when FILE is -, read standard input.\n"
    "Mandatory arguments to long options are mandatory for short options too.\n"
    "  -d, --decode          decode data\n"
    "  -i, --ignore-garbage  when decoding, ignore non-alphabet characters\n"
    "  -w, --wrap=COLS       wrap encoded lines after COLS character (default 76).\n"
    "                          Use 0 to disable line wrapping\n"
    "  -s, --string=\"TEXT\"   use \"TEXT\" as input string\n"
    "  -h, --help            display this help and exit\n"
    "  -v, --version         output version information and exit\n"
    "The data are encoded as described for the base64 alphabet in RFC 4648.\n"
    "When decoding, the input may contain newlines in addition to the bytes of\n"
    "the formal alphabet.  Use --ignore-garbage to attempt to recover\n"
    "from any other non-alphabet bytes in the encoded stream.\n"
    "\n";

inline constexpr char version_notice[] =
    "\n"
    "Copyright (C) 2021 The Tessaly developers.\n"
    "This is free software. Provided 'as is'. There is NO warranty;\n"
    "not even for MERCHANTABILITY or FITNESS FOR A PARTICULAR PURPOSE.\n"
    "Written by the Tessaly developers <tessaly@tessaly.dev>.\n"
    "\n";

}  // namespace tessaly
