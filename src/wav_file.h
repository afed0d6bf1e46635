// Files as the program needs them on every platform: 64-bit positions, so
// that no offset in a file of 2 GiB or more wraps, reads at a position, and
// which file an open stream or a path is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Moves to an absolute position; returns 0 or -1.
int wavFileSeek(std::FILE *file, std::int64_t position);

// The stream's position, or -1 where it has none (a pipe).
std::int64_t wavFileTell(std::FILE *file);

// Which regular file a stream reads: its device and its number there (the
// volume and the file index on Windows), and its size at the time.
struct WavFileId {
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  std::int64_t size = -1;
};

// The identity of the regular file open as file; 0, or -1 for anything else.
int wavFileIdGet(std::FILE *file, WavFileId &id);

// The identity of the regular file at path, links followed; 0, or -1.
int wavPathIdGet(const char *path, WavFileId &id);

// Whether two identities name the same file, whatever its size.
bool wavFileIdSame(const WavFileId &a, const WavFileId &b);

// Opens path for reading when it is still the file id names, of the same
// size, and tells the system it will be read from start to end; null
// otherwise.
std::FILE *wavFileReopen(const char *path, const WavFileId &id);

// Reads size bytes at position. Returns how many were read, fewer only at the
// end of the file, or -1 after a read error.
std::int64_t wavFileReadAt(std::FILE *file, std::int64_t position, std::uint8_t *bytes,
                           std::size_t size);
