// The new file's hidden name in the target's folder, while it has one, when a
// file is converted into itself: made there or linked there, removed by every
// terminating signal that is not ignored, then given up. Only ever a name
// that still holds the new file is removed.
#pragma once

#include <signal.h>

#include "wav_replace.h"

// Holds back every signal, so that nothing runs between steps that must be
// taken together; gives the mask to put back.
sigset_t wavSignalsHold();
void wavSignalsRelease(const sigset_t &old);

// Gives the new file a short hidden name in the folder: makes the file there
// where there is none yet (replace.file < 0), else links it there. A file
// linked there is linked with the signals held back by the caller until the
// name is given up, so no signal's action is changed for it. Returns 0, or
// -1 with errno set.
int wavHiddenMake(WavReplace &replace);

// The new file keeps its hidden name no longer: the name is removed where
// remove is set and it still holds the new file, and the signals' actions
// are put back.
void wavHiddenDrop(WavReplace &replace, bool remove);
