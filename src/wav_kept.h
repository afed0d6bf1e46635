// The source's chunks that the result keeps, other than "fmt ", "fact" and
// "data" (LIST, bext, iXML, cue, smpl, any other): noted where they are in a
// regular file, which they are copied from a window at a time, or held from
// a pipe; copied byte for byte, each with a zero pad byte after a body of
// odd length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "wav_info.h"
#include "wav_samples.h"

// Takes the chunk with the 8-byte header just read, its body at file's
// position, into info.kept. Returns 1 with file past the body; 0 where the
// body runs past the end of the source, where it is not kept; -1 after
// printing why (too many chunks, no memory).
int wavKeptTake(std::FILE *file, const std::uint8_t *header, WavInfo &info);

// Releases the bodies held, leaving what the chunks are.
void wavKeptRelease(WavKeptChunks &kept);

// Forgets every kept chunk, releasing what was held.
void wavKeptClear(WavKeptChunks &kept);

// Loads the bodies of info's kept chunks from its file into memory, for a
// source to be overwritten. Returns 0 or -1 after printing why.
int wavKeptLoad(WavInfo &info);

// Bytes kept chunks [from, to) take in the result.
std::uint64_t wavKeptSize(const WavKeptChunks &kept, std::size_t from, std::size_t to);

// Whether two reads kept the same chunks.
bool wavKeptSame(const WavKeptChunks &a, const WavKeptChunks &b);

// Writes kept chunks [from, to) of samples' source into file, the output
// path names, those read from the source's file through scratch, room
// bytes. Returns 0, or -1 after printing why.
int wavKeptWrite(std::FILE *file, const char *path, WavSamplesReader &samples, std::size_t from,
                 std::size_t to, std::uint8_t *scratch, std::size_t room);
