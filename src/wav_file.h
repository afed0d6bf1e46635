// Files as the program needs them on every platform, once they are open:
// 64-bit positions, so that no offset in a file of 2 GiB or more wraps, reads
// at a position, which file an open stream is, and what converting a file
// into itself needs of open files: their attributes, room on the disk, a
// copy, a sync. Opening a name is the entry unit's (wav_entry.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#ifdef _WIN32
#include <string>

// The command line's arguments as the program takes them: each wide one in
// the code page given, the ANSI one as the C runtime would give it (with "?"
// for what it cannot show) or UTF-8, as the program prints it. A file named
// by one of them is still opened by the wide name it came from. They live as
// long as the process.
char **wavArgsNarrow(int argc, wchar_t **wide, unsigned codePage);

// The file name path stands for, as Windows names files: the wide name of an
// argument from wavArgsNarrow, else path read in the ANSI code page. Every
// file is opened by this name.
std::wstring wavPathWide(const char *path);

// The system's handle of the C runtime's descriptor fd.
void *wavDescriptorHandle(int fd);
#else
struct stat;
#endif

// Moves to an absolute position; returns 0 or -1.
int wavFileSeek(std::FILE *file, std::int64_t position);

// The stream's position, or -1 where it has none (a pipe).
std::int64_t wavFileTell(std::FILE *file);

// Which file a stream reads: its device and its number there (the volume and
// the file index on Windows), and its size, modification time and change
// time (in the platform's own unit) at the time. Any write, and any change of
// its attributes, moves the change time, which no program can set back; but
// it moves in steps of the system's clock tick, a few milliseconds.
struct WavFileId {
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  std::int64_t size = -1;
  std::int64_t modified = 0;
  std::int64_t changed = 0;
};

// The identity of the regular file open as file, or as the descriptor fd; 0,
// or -1 for anything else.
int wavFileIdGet(std::FILE *file, WavFileId &id);
int wavDescriptorIdGet(int fd, WavFileId &id);

#ifndef _WIN32
// The identity st gives, of a file of any kind.
WavFileId wavStatId(const struct stat &st);
#endif

// Whether two identities name the same file, whatever its size.
inline bool wavFileIdSame(const WavFileId &a, const WavFileId &b) {
  return a.device == b.device && a.index == b.index;
}

// Whether two identities name the same file, of the same size and
// modification time. A rewrite that keeps the size and puts the time back, or
// comes within the file system's time resolution, goes unseen.
inline bool wavFileIdUnchanged(const WavFileId &a, const WavFileId &b) {
  return wavFileIdSame(a, b) && a.size == b.size && a.modified == b.modified;
}

// Tells the system that the file will be read from start to end.
void wavFileReadAhead(std::FILE *file);

// Truncates the file open for writing to nothing; 0 or -1.
int wavFileTruncate(std::FILE *file);

// Gives the file open as the descriptor to what the file open as from has:
// its owner where the process may give it, its group likewise, its access
// list (none where it has none, whatever the folder hands down), and its
// mode, with the set-id bits only where both owner and group were given.
// What the file system cannot hold is left out. 0, or -1 where the access
// list or the mode could not be given.
int wavDescriptorAttributesCopy(int from, int to);

// Room on the disk for size bytes in the file open as fd for writing, which
// then holds size bytes; 0, or -1 where there is none (a full disk, a
// file-size limit), the file then as it was.
int wavDescriptorReserve(int fd, std::int64_t size);

#ifdef _WIN32
// Copies the whole of the file open as from over the file open as to for
// writing, room for it reserved first, and has the system write it to the
// disk. 0 or -1.
int wavDescriptorCopy(int from, int to);
#else
// Copies the whole of the file open as from over the file open as to for
// writing, whose room for it wavDescriptorReserve has taken, and has the
// system write it to the disk. 0 or -1.
int wavDescriptorCopyOver(int from, int to);
#endif

// Has the system write what it holds of the file open as fd to the disk; 0,
// also where the file system cannot (EINVAL), or -1.
int wavDescriptorSync(int fd);

// A stream that writes into the file open as fd, through a duplicate of the
// descriptor of its own; null where none can be had.
std::FILE *wavDescriptorStream(int fd);

// Reads size bytes at position. Returns how many were read, fewer only at the
// end of the file, or -1 after a read error.
std::int64_t wavFileReadAt(std::FILE *file, std::int64_t position, std::uint8_t *bytes,
                           std::size_t size);
