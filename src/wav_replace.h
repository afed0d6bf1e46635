// Converting a file into itself: the result is written to a new file beside
// the source's real path and renamed over it once it is whole, so that a run
// that fails leaves the source as it was.
#pragma once

#include <cstdio>
#include <string>

// The new file and the one it is to replace. Empty when there is none.
struct WavReplace {
  std::string target;         // the real path of the file to replace
  std::string temp;           // the new file, in the same folder
  std::FILE *file = nullptr;  // the new file open for writing, until the writer takes it
};

// Creates the new file beside the real path of path, with that file's
// permission bits (and its owner where the process may set it), open for
// writing. Returns 0, or -1 with nothing made where the real path cannot be
// resolved or the folder takes no new file; the caller then writes over path
// itself. Prints nothing.
int wavReplaceCreate(const char *path, WavReplace &replace);

// The new file, as a stream for the writer to take, once path opens for
// writing as writing over it would need; else null after printing that path
// cannot be opened.
std::FILE *wavReplaceTake(WavReplace &replace, const char *path);

// Renames the new file, written and closed, over the target. Returns 0, or -1
// with the new file removed and the target as it was where the rename is
// refused (a sticky folder, a file mounted on its own). Prints nothing.
int wavReplaceCommit(WavReplace &replace);

// Closes and removes the new file, if there is one.
void wavReplaceDiscard(WavReplace &replace);
