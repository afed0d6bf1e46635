// The command line: what a program takes on it, chosen once by its entry, and
// the operands read from it by that choice.
#pragma once

#include "wav_accepts.h"
#include "wav_console.h"

// What a program accepts. wavwiden takes IN OUT [DELAY] as they come: every
// argument an operand, any after the third ignored, the delay the number its
// text starts with. wavwiden-en takes them as GNU tools do.
struct WavCommand {
  WavVoice voice;
  bool options;      // --help, -h, --version and --; any other "-x" or "--x"
                     // an unknown option; more than three operands refused
  bool strictDelay;  // the delay a number in full with an optional unit, else refused
  bool streams;      // "-" is standard input or output; a pipe or a device
                     // written in one pass; a terminal or the source refused
                     // as standard output; the report on standard error when
                     // the output is standard output
  WavAccepts accepts;  // what it reads of a source and keeps of it
};

// The two programs' choices; each entry hands its own to the driver.
inline constexpr WavCommand kWavwidenCommand = {WavVoice::kJapanese, false, false, false,
                                                kWavAcceptsSpecified};
inline constexpr WavCommand kWavwidenEnCommand = {WavVoice::kEnglish, true, true, true,
                                                  kWavAcceptsWide};

// What the command line asks for.
struct WavOperands {
  bool done = false;        // the help or the version printed: nothing more to do
  const char *in = nullptr;
  const char *out = nullptr;
  const char *delay = nullptr;  // as given, or null for none
  float seconds = 0.03f;        // the delay it gives
};

// Reads argv by command into operands. Returns 0, or -1 after printing why
// (the usage, an unknown option, too many operands, a delay that is no
// number): before any file is opened.
int wavCommandRead(int argc, char **argv, const WavCommand &command, WavOperands &operands);
