// Converting a file into itself. The output's real path is resolved once and
// its folder opened; from then on everything is done through that folder and
// through open files. The result goes to a new file in the folder, unnamed
// where the file system allows it (else under a short hidden name that a
// terminating signal removes), with the source's owner, group, mode and
// access list; once it is whole and synced it trades places with the target
// in one step, and the source is removed. A run that fails or is killed
// leaves the source as it was. Where the folder takes no new file, or the
// path cannot be resolved, the target is overwritten in place instead, from
// the samples held in memory, its room reserved first.
//
// On Windows the new file has a hidden name in the target's folder from the
// start, removed by a console control handler, and is moved over the target
// by path once the target is seen to be the source still.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "wav_file.h"

// The new file and the target it is to replace.
struct WavReplace {
  const char *path = nullptr;  // the target as the command line names it
  WavFileId source;            // the source as it was first read
  bool overwrite = false;      // no new file: the target is written over
  int target = -1;             // the target, open, where it was found
  int file = -1;               // the new file, or the target open to be overwritten
#ifdef _WIN32
  std::wstring targetPath;  // the target's final path
  std::wstring temp;        // the new file's path while it is there
#else
  bool unnamed = true;      // tried first for the new file; tests turn it off
  int folder = -1;          // the target's folder, or -1
  bool folderRead = false;  // opened for reading, so that it can be synced
  std::string name;         // the target's name in the folder
  std::string hidden;       // the new file's name in the folder while it has one
#endif
};

// Makes the new file for path, which names the source, identified by
// source. Where the folder takes none (no write permission, a read-only file
// system) or path cannot be resolved, it makes nothing and sets
// replace.overwrite. Returns 0, or -1 after printing that path cannot be
// opened.
int wavReplaceCreate(const char *path, const WavFileId &source, WavReplace &replace);

// The stream the writer writes the result of size bytes into: the new file,
// once the target may be written; or, to overwrite, the target itself, once
// it is seen to be the source still, unchanged, with room for size bytes.
// Null after printing why.
std::FILE *wavReplaceTake(WavReplace &replace, std::int64_t size);

// Puts the written result in the target's place, durably: the new file is
// synced and trades places with the target once the target is seen to be the
// source still, unchanged; where the folder refuses that (a sticky folder, a
// file mounted on its own), the result is copied over the target. An
// overwritten target is synced. Returns 0, or -1 after printing why, with the
// target as it was unless it was being overwritten.
int wavReplaceCommit(WavReplace &replace);

// Closes what is open and removes the new file, if it is still there.
void wavReplaceDiscard(WavReplace &replace);
