// The program: wavwiden IN OUT [DELAY] converts the mono WAVE file IN into
// the stereo file OUT whose right channel is the left delayed by DELAY
// seconds (0.03 by default). wavwiden-en does the same, speaking English.
#pragma once

#include "wav_command.h"

// Runs what the command line asks, as command takes it, and returns the exit
// status, 0 or -1.
int wavMain(int argc, char **argv, const WavCommand &command);
