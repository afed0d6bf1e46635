#include "wav_command.h"

#include <cstring>

#include "wav_decimal.h"
#include "wav_text.h"

namespace {

// An option is "-" and a letter, or "--" and more: "-" alone is a name and
// "-0.01" a delay.
bool optionLike(const char *arg) {
  const char next = arg[0] == '-' ? arg[1] : '\0';
  return next == '-' || (next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z');
}

// The options, taken wherever they stand up to "--", the first that ends the
// run deciding it; the operands in their order. -1 where an option ends it.
int argsSort(int argc, char **argv, const WavCommand &command, const char *(&operands)[3],
             int &count, WavOperands &read) {
  bool ended = !command.options;
  for (int i = 1; i < argc; ++i) {
    const char *arg = argv[i];
    if (!ended && std::strcmp(arg, "--") == 0) {
      ended = true;
    } else if (!ended && optionLike(arg)) {
      const bool help = std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
      if (help || std::strcmp(arg, "--version") == 0) {
        wavSay(help ? kTextHelp : kTextVersion);
        read.done = true;
        return 0;
      }
      wavSay(kTextUnknownOption, arg);
      return -1;
    } else {
      if (count < 3) operands[count] = arg;
      ++count;
    }
  }
  return 0;
}

}  // namespace

int wavCommandRead(int argc, char **argv, const WavCommand &command, WavOperands &read) {
  read = {};
  const char *operands[3] = {nullptr, nullptr, nullptr};
  int count = 0;
  if (argsSort(argc, argv, command, operands, count, read) != 0) return -1;
  if (read.done) return 0;
  if (command.options && count > 3) {
    wavSay(kTextTooManyOperands, count);
    return -1;
  }
  read.in = operands[0];
  read.out = operands[1];
  read.delay = operands[2];
  if (read.delay && !command.strictDelay) read.seconds = wavDecimalParse(read.delay);
  if (read.delay && command.strictDelay && !wavDelayParse(read.delay, read.seconds)) {
    wavSay(kTextDelayNotNumber, read.delay);
    return -1;
  }
  if (count < 2) {
    wavSay(kTextUsage);
    return -1;
  }
  return 0;
}
