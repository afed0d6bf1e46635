#include "wav_command.h"

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Outcome {
  int status;
  bool done;
  const char *in;
  const char *out;
  const char *delay;
  float seconds;
};

Outcome commandRead(const WavCommand &command, std::vector<std::string> args) {
  args.insert(args.begin(), "wavwiden");
  std::vector<char *> argv;
  for (std::string &arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  WavOperands read;
  const int status = wavCommandRead(static_cast<int>(args.size()), argv.data(), command, read);
  // The operands point into args: kept as text for the comparison.
  static std::vector<std::string> kept;
  kept = {read.in ? read.in : "", read.out ? read.out : "", read.delay ? read.delay : ""};
  return {status, read.done, read.in ? kept[0].c_str() : nullptr,
          read.out ? kept[1].c_str() : nullptr, read.delay ? kept[2].c_str() : nullptr,
          read.seconds};
}

void outcomeIs(const Outcome &got, const Outcome &expected) {
  EXPECT_EQ(got.status, expected.status);
  EXPECT_EQ(got.done, expected.done);
  for (const auto &[a, b] : {std::pair{got.in, expected.in}, std::pair{got.out, expected.out},
                             std::pair{got.delay, expected.delay}}) {
    EXPECT_EQ(a == nullptr, b == nullptr);
    if (a && b) {
      EXPECT_STREQ(a, b);
    }
  }
  if (got.status == 0 && !got.done) {
    EXPECT_EQ(got.seconds, expected.seconds);
  }
}

// wavwiden takes every argument as an operand, ignores any past the third,
// and reads the number the delay starts with; wavwiden-en takes options
// wherever they stand up to "--", at most three operands and a delay in full.
TEST(WavCommand, ReadsTheCommandLineAsEachProgramTakesIt) {
  const struct {
    const WavCommand *command;
    std::vector<std::string> args;
    Outcome expected;
  } cases[] = {
      {&kWavwidenCommand, {"a", "b"}, {0, false, "a", "b", nullptr, 0.03f}},
      {&kWavwidenCommand, {"--help", "b"}, {0, false, "--help", "b", nullptr, 0.03f}},
      {&kWavwidenCommand, {"a", "b", "-x", "d", "e"}, {0, false, "a", "b", "-x", 0.0f}},
      {&kWavwidenCommand, {"a", "b", "30ms"}, {0, false, "a", "b", "30ms", 30.0f}},
      {&kWavwidenCommand, {"a"}, {-1, false, "a", nullptr, nullptr, 0.03f}},
      {&kWavwidenCommand, {"--", "a", "b"}, {0, false, "--", "a", "b", 0.0f}},
      {&kWavwidenEnCommand, {"a", "b"}, {0, false, "a", "b", nullptr, 0.03f}},
      {&kWavwidenEnCommand, {"--help"}, {0, true, nullptr, nullptr, nullptr, 0.0f}},
      {&kWavwidenEnCommand, {"a", "-h", "b"}, {0, true, nullptr, nullptr, nullptr, 0.0f}},
      {&kWavwidenEnCommand, {"--version", "-x"}, {0, true, nullptr, nullptr, nullptr, 0.0f}},
      {&kWavwidenEnCommand, {"-x", "--version"}, {-1, false, nullptr, nullptr, nullptr, 0.0f}},
      {&kWavwidenEnCommand, {"--", "-h", "--", "-1"}, {0, false, "-h", "--", "-1", -1.0f}},
      {&kWavwidenEnCommand, {"-", "-", "-0.01"}, {0, false, "-", "-", "-0.01", -0.01f}},
      {&kWavwidenEnCommand, {"a", "b", "-.5"}, {0, false, "a", "b", "-.5", -0.5f}},
      {&kWavwidenEnCommand, {"a", "b", "-e5"}, {-1, false, nullptr, nullptr, nullptr, 0.0f}},
      {&kWavwidenEnCommand, {"a", "b", "30ms"}, {0, false, "a", "b", "30ms", 0.03f}},
      {&kWavwidenEnCommand, {"a", "b", "0.03s"}, {0, false, "a", "b", "0.03s", 0.03f}},
      {&kWavwidenEnCommand, {"a", "b", "x"}, {-1, false, "a", "b", "x", 0.03f}},
      {&kWavwidenEnCommand, {"a", "b", "1", "d"}, {-1, false, nullptr, nullptr, nullptr, 0.0f}},
      {&kWavwidenEnCommand, {"a"}, {-1, false, "a", nullptr, nullptr, 0.03f}},
      {&kWavwidenEnCommand, {}, {-1, false, nullptr, nullptr, nullptr, 0.03f}},
  };
  for (const auto &c : cases) {
    std::string shown;
    for (const std::string &arg : c.args) shown += " [" + arg + "]";
    SCOPED_TRACE((c.command == &kWavwidenCommand ? "wavwiden" : "wavwiden-en") + shown);
    outcomeIs(commandRead(*c.command, c.args), c.expected);
  }
}

}  // namespace
