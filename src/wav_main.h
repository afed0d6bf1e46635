// The program: wavwiden IN OUT [DELAY] converts the mono WAVE file IN into
// the stereo file OUT whose right channel is the left delayed by DELAY
// seconds (0.03 by default).
#pragma once

// Runs one conversion and returns the exit status, 0 or -1.
int wavMain(int argc, char **argv);
