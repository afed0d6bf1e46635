// The source's samples: the body of its "data" chunk, held in memory (read
// from a pipe or a device, or loaded to overwrite the file it came from) or
// left as a range of its regular file, which is read again as the result is
// written. The reader hands the chunk over; the writer reads it a window at a
// time, the same way wherever it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "wav_accepts.h"
#include "wav_info.h"

// Takes the "data" body of length bytes that starts at file's position for
// info. From a regular file it notes where the samples are, once the file is
// seen to hold them all, and moves past them; from anything else it reads
// them into memory. A body that declares more than the source holds fails,
// or where accepts takes it, is what the source holds (info.dataDeclared
// keeps what it declares). An
// empty body fails. Returns 0, or -1 after printing why.
int wavSamplesTake(std::FILE *file, std::uint32_t length, const WavAccepts &accepts,
                   WavInfo &info);

// Reads up to length bytes from file into held, allocated at once where
// atItsWord and length is within limit, else grown as they arrive; got is
// how many came before the end of the stream. Fails as soon as more than
// limit have come, or where memory runs out. Returns 0, or -1 after
// printing why.
int wavBytesHold(std::FILE *file, std::uint32_t length, std::uint32_t limit, bool atItsWord,
                 WavBuffer &held, std::uint32_t &got);

// Reads the samples info noted in their file into buffer, which is
// info.dataSize bytes and becomes info.data. Returns 0 or -1 after printing
// why.
int wavSamplesLoad(WavInfo &info, WavBuffer buffer);

// The samples of a WavInfo open for reading: in its memory, or in its file
// opened again.
struct WavSamplesReader {
  const WavInfo *info = nullptr;
  std::FILE *file = nullptr;
};

// Opens info's samples: nothing to do for memory; for a file, opens it again
// by its name if that still holds the same file, untouched. Returns 0, or -1
// after printing that the input changed or cannot be opened.
int wavSamplesOpen(const WavInfo &info, WavSamplesReader &reader);

// Points bytes at size bytes of samples from offset on: into memory where
// they are held, else into scratch, where they are read. Returns 0, or -1
// after printing that the input changed (it ends sooner) or cannot be read.
int wavSamplesRead(WavSamplesReader &reader, std::size_t offset, std::size_t size,
                   std::uint8_t *scratch, const std::uint8_t *&bytes);

// Whether the file the samples are read from is still as it was first read,
// once the last of them has been read. Returns 0, or -1 after printing that
// the input changed.
int wavSamplesCheck(const WavSamplesReader &reader);

// Closes what wavSamplesOpen opened.
void wavSamplesClose(WavSamplesReader &reader);
