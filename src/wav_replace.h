// Converting a file into itself. Everything is done through the folder the
// output's name was looked at in and through open files. The result goes to a
// new file in that folder, unnamed where the file system allows it (else
// under a short hidden name that a terminating signal removes), with the
// source's owner, group, mode and access list; once it is whole and synced
// it trades places with the target in one step, the folder is synced and the
// new file synced once more to confirm it, and only then is the source, seen
// under the new file's old name, removed. A run that fails or is killed
// before the trade leaves the source as it was; once names have been traded,
// a failure removes no name at all. Where the new file cannot take the
// source's owner and group, or the folder refuses the trade, the finished
// result is copied over the target under a hidden name, which goes once the
// copy is synced. Where the folder takes no new file, the target is
// overwritten in place instead, from the samples held in memory, its room
// reserved first.
//
// On Windows the new file has a hidden name in the target's folder from the
// start, removed by a console control handler, and is moved over the target
// by path once the target is seen to be the source still. Where the move is
// refused (the target held open by another program, or read-only), the
// result is copied over the target, its room reserved first, and keeps its
// hidden name until the copy is flushed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "wav_entry.h"
#include "wav_file.h"

// The new file and the target it is to replace.
struct WavReplace {
  const WavEntry *entry = nullptr;  // the target's name, looked at
  WavFileId source;                 // the source as it was first read
  bool overwrite = false;           // no new file: the target is written over
  int target = -1;                  // the target, open, where it was found
  int file = -1;                    // the new file, or the target open to be overwritten
#ifdef _WIN32
  std::wstring targetPath;  // the target's final path
  std::wstring temp;        // the new file's path while it is there
#else
  bool unnamed = true;      // tried first for the new file; tests turn it off
  bool copyOver = false;    // the new file lacks the target's owner or group
  std::string hidden;       // the new file's name in the folder while it has one
#endif
};

// Makes the new file for target, which holds the source, identified by
// source. Where the folder takes none (no write permission, a read-only file
// system), or the target is one of the system's own links, it makes nothing
// and sets replace.overwrite. Returns 0, or -1 after printing that the
// target cannot be opened or holds another file now.
int wavReplaceCreate(const WavEntry &target, const WavFileId &source, WavReplace &replace);

// The stream the writer writes the result of size bytes into: the new file,
// once the target may be written; or, to overwrite, the target itself, once
// it is seen to be the source still, untouched, with room for size bytes.
// Null after printing why.
std::FILE *wavReplaceTake(WavReplace &replace, std::int64_t size);

// Puts the written result in the target's place, durably: the new file is
// synced and trades places with the target once the target is seen to be the
// source still, untouched; where the folder refuses that (a sticky folder, a
// file mounted on its own), or the new file lacks the target's owner or
// group, the result is copied over the target. An overwritten target is
// synced. Any sync that fails fails the run. Returns 0, or -1 after printing
// why, with the target as it was unless it was being overwritten, copied
// over (the result then left under its hidden name) or the trade was made.
int wavReplaceCommit(WavReplace &replace);

// Closes what is open and removes the new file, if it still has its hidden
// name and nothing was traded.
void wavReplaceDiscard(WavReplace &replace);
