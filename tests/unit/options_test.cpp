#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"

namespace {

struct step {
  int result;
  std::optional<std::string> arg;  // opt_arg after the call
};

struct scan_case {
  std::vector<std::string> args;  // after the program name
  std::vector<step> steps;  // up to and including the last call
  int index_after;  // opt_index after the last call
  std::string error;  // everything written to standard error
};

void PrintTo(const scan_case& c, std::ostream* os) {
  for (const auto& a : c.args) *os << '"' << a << "\" ";
}

class ScannerTest : public testing::TestWithParam<scan_case> {};

TEST_P(ScannerTest, ReturnsOptionsArgumentsAndDiagnostics) {
  const scan_case& c = GetParam();
  std::vector<std::string> storage{"base64"};
  storage.insert(storage.end(), c.args.begin(), c.args.end());
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(storage.size());

  tessaly::reset_option_scanner();
  testing::internal::CaptureStderr();
  for (std::size_t i = 0; i < c.steps.size(); ++i) {
    const int got = tessaly::next_option(argc, argv.data());
    EXPECT_EQ(got, c.steps[i].result) << "call " << i;
    if (c.steps[i].arg) {
      ASSERT_NE(tessaly::opt_arg, nullptr) << "call " << i;
      EXPECT_EQ(tessaly::opt_arg, *c.steps[i].arg) << "call " << i;
    } else {
      EXPECT_EQ(tessaly::opt_arg, nullptr) << "call " << i;
    }
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), c.error);
  EXPECT_EQ(tessaly::opt_index, c.index_after);
}

const auto none = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Scanning, ScannerTest,
    testing::Values(
        // Plain options, clusters and the ends of scanning.
        scan_case{{}, {{-1, none}}, 1, ""},
        scan_case{{"-d", "-i"}, {{'d', none}, {'i', none}, {-1, none}}, 3, ""},
        scan_case{{"-di", "f"}, {{'d', none}, {'i', none}, {-1, none}}, 2, ""},
        scan_case{{"-dw10"}, {{'d', none}, {'w', "10"}, {-1, none}}, 2, ""},
        scan_case{{"-dw", "10"}, {{'d', none}, {'w', "10"}, {-1, none}}, 3, ""},
        scan_case{{"-w", "-5"}, {{'w', "-5"}, {-1, none}}, 3, ""},
        scan_case{{"-s", "--", "x"}, {{'s', "--"}, {-1, none}}, 3, ""},
        scan_case{{"-w", ""}, {{'w', ""}, {-1, none}}, 3, ""},
        scan_case{{"-"}, {{-1, none}}, 1, ""},
        scan_case{{"--", "-d"}, {{-1, none}}, 2, ""},
        scan_case{{"file", "-d"}, {{-1, none}}, 1, ""},
        scan_case{{"", "-d"}, {{-1, none}}, 1, ""},
        scan_case{{"-d-"}, {{'d', none}, {-1, none}}, 1, ""},
        scan_case{{"-d", "-", "-i"}, {{'d', none}, {-1, none}}, 2, ""},
        // Long options: abbreviations, "=" forms, separate arguments.
        scan_case{{"--dec"}, {{'d', none}, {-1, none}}, 2, ""},
        scan_case{{"--d"}, {{'d', none}}, 2, ""},
        scan_case{{"--decode", "--ignore-garbage"}, {{'d', none}, {'i', none}}, 3, ""},
        scan_case{{"--i", "--h", "--v"}, {{'i', none}, {'h', none}, {'v', none}}, 4, ""},
        scan_case{{"--w=10"}, {{'w', "10"}, {-1, none}}, 2, ""},
        scan_case{{"--wrap", "10"}, {{'w', "10"}, {-1, none}}, 3, ""},
        scan_case{{"--wrap", "--decode"}, {{'w', "--decode"}, {-1, none}}, 3, ""},
        scan_case{{"--wrap="}, {{'w', ""}, {-1, none}}, 2, ""},
        scan_case{{"--wrap=a=b"}, {{'w', "a=b"}}, 2, ""},
        scan_case{{"--string=x y"}, {{'s', "x y"}}, 2, ""},
        scan_case{{"--st", "abc"}, {{'s', "abc"}}, 3, ""},
        // Malformed long options.
        scan_case{{"--decode=x"}, {{'?', "x"}}, 2,
                  "this long option does not take an argument --decode=x\n"},
        scan_case{{"--foo=1"}, {{'?', "1"}}, 2, "illegal long option --foo=1\n"},
        scan_case{{"--decoder"}, {{'?', none}}, 2, "illegal long option --decoder\n"},
        scan_case{{"--=wrap"}, {{'?', none}}, 2, "illegal long option --=wrap\n"},
        scan_case{{"--wrap"}, {{'?', none}}, 2,
                  "this long option needs an argument --wrap\n"},
        scan_case{{"--s"}, {{'?', none}}, 2,
                  "this long option needs an argument --s\n"},
        scan_case{{"--help=no"}, {{'?', "no"}}, 2,
                  "this long option does not take an argument --help=no\n"},
        // Malformed short options.
        scan_case{{"-x"}, {{'?', none}, {-1, none}}, 2, "illegal option '-x'\n"},
        scan_case{{"-:"}, {{'?', none}}, 2, "illegal option '-:'\n"},
        scan_case{{"-xd"}, {{'?', none}, {'d', none}}, 2, "illegal option '-x'\n"},
        scan_case{{"-w"}, {{'?', none}, {-1, none}}, 2,
                  "option requires an argument '-w'\n"},
        scan_case{{"-ds"}, {{'d', none}, {'?', none}}, 2,
                  "option requires an argument '-s'\n"}));

TEST(Scanner, KeepsTheLetterJustExamined) {
  std::string a0 = "base64", a1 = "-d\xE9";
  char* argv[] = {a0.data(), a1.data(), nullptr};
  tessaly::reset_option_scanner();
  testing::internal::CaptureStderr();
  EXPECT_EQ(tessaly::next_option(2, argv), 'd');
  EXPECT_EQ(tessaly::opt_letter, 'd');
  EXPECT_EQ(tessaly::next_option(2, argv), '?');
  EXPECT_EQ(tessaly::opt_letter, static_cast<signed char>('\xE9'));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "illegal option '-\xE9'\n");
}

}  // namespace
