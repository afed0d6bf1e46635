// The names the command line gives, each looked at once, when the run
// starts: followed to the folder entry it leads to, whose folder is opened
// then, with what the entry held then. Every later call on the name goes
// through that folder to that entry, follows no link that was not there at
// the start, and takes only the file that was seen, without waiting where
// that was a regular file or nothing: whoever renames, links or replaces
// files or folders meanwhile cannot turn the program to another file, nor
// hold it up.
#pragma once

#include <cstdio>
#include <string>

#include "wav_console.h"
#include "wav_file.h"

// What the entry held when it was looked at.
enum class WavSeen {
  kNothing,  // no such name in its folder
  kFile,     // a regular file
  kOther,    // anything else: a device, a pipe, a folder
};

struct WavEntry {
  const char *path = nullptr;  // the name as the command line gives it
  bool looked = false;         // false where the name could not be looked at
  WavError error;              // and why not
  WavSeen seen = WavSeen::kNothing;
  WavFileId id;                // what it held: its device and number, whatever its kind
  int stream = -1;             // for "-": the standard descriptor it stands for, 0 or 1
  bool device = false;         // a character device (Linux)
#ifndef _WIN32
  int folder = -1;             // the folder that holds the entry
  bool folderRead = false;     // opened for reading, so that it can be synced
  bool followed = false;       // one of the system's own links (/dev/stdout): opened following it
  std::string name;            // the entry's name in its folder
#endif
};

// Looks at path. Returns looked: false where it cannot be looked at (its
// folder missing, a trailing slash, a loop of links).
bool wavEntryLook(const char *path, WavEntry &entry);

// Looks at the file the standard descriptor fd (0 or 1) is open on, which
// the name "-" stands for. On Windows the descriptor is made binary.
bool wavEntryStandard(const char *path, int fd, WavEntry &entry);

// Whether the entry holds the file the descriptor fd is open on, whatever
// its kind (on Windows only the standard one itself or a regular file).
bool wavEntryIsDescriptor(const WavEntry &entry, int fd);

// Whether the entry holds a terminal: for a standard descriptor, whether it
// is one; for a character device, whether it opens as one (on Windows only a
// standard descriptor is asked).
bool wavEntryTerminal(const WavEntry &entry);

// Looks at the source's name and at the output's, each folder path opened
// once: the same text once "." and repeated slashes are dropped is the same
// folder. Where the two are the same name of the same folder, the output's
// look is the source's, and true is returned: the run is then in place
// whatever that entry holds later. On Windows only the files the names lead
// to are compared, by the driver.
bool wavEntriesLook(const char *source, const char *output, WavEntry &in, WavEntry &out);

// Opens the entry's file for reading: the one it held when it was looked at,
// or a duplicate of its standard descriptor, which goes on where the first
// left off.
// Null where it does not open; other is then set where the name leads to
// another file now, or to none. A name that could not be looked at is not
// opened (Windows opens it as it stands).
std::FILE *wavEntryReadOpen(const WavEntry &entry, bool &other);

// Opens the entry's file for writing without truncating it: the one it held
// when it was looked at, a duplicate of its standard descriptor, or a new one made where it held nothing (only if no
// other has come since). Null where it cannot be had or the name leads
// elsewhere now, or where the name could not be looked at.
std::FILE *wavEntryWriteOpen(const WavEntry &entry);

#ifndef _WIN32
// The file the entry held when it was looked at, opened with flags through
// its folder; a descriptor, or -1 with errno set and other set where the
// name holds another file now, or none.
int wavEntrySeenOpen(const WavEntry &entry, int flags, bool &other);
#endif

// Why the last open of an entry that returned nothing failed, where the
// name did not lead to another file: the system's error of the look, of the
// open, or "no such file" for a name that held nothing.
WavError wavEntryOpenError();

// Closes what the look opened.
void wavEntryClose(WavEntry &entry);
