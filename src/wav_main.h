// The program: wavwiden IN OUT [DELAY] converts the mono WAVE file IN into
// the stereo file OUT whose right channel is the left delayed by DELAY
// seconds (0.03 by default). wavwiden-en does the same, speaking English.
#pragma once

#include "wav_accepts.h"
#include "wav_console.h"

// Runs one conversion, speaking in voice and reading the source as accepts
// says, and returns the exit status, 0 or -1.
int wavMain(int argc, char **argv, WavVoice voice, const WavAccepts &accepts);
