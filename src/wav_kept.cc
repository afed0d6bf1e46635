#include "wav_kept.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "wav_bytes.h"
#include "wav_console.h"
#include "wav_file.h"
#include "wav_text.h"

namespace {

// Whether the chunk whose header is at position header extends the last run:
// it starts where that run ends, after the pad byte its last body left.
bool runGoesOn(const WavKeptChunks &kept, std::int64_t header) {
  if (kept.count == 0 || kept.count == kept.beforeData) return false;
  const WavKept &last = kept.chunk[kept.count - 1];
  return last.start >= 0 && last.start + static_cast<std::int64_t>(last.size) + last.padded == header;
}

}  // namespace

int wavKeptTake(std::FILE *file, const std::uint8_t *header, WavInfo &info) {
  WavKeptChunks &kept = info.kept;
  const std::uint32_t length = wavLe32Decode(header + 4);
  const bool fromFile = info.file.id.size >= 0;
  std::int64_t bodyStart = -1;
  if (fromFile) {
    bodyStart = wavFileTell(file);
    if (bodyStart < 0 || length > info.file.id.size - bodyStart) return 0;
  }
  if (!fromFile || !runGoesOn(kept, bodyStart - 8)) {
    if (kept.count == kWavKeptMax) {
      wavSay(kTextTooManyChunks, static_cast<int>(kWavKeptMax));
      return -1;
    }
    WavKept &chunk = kept.chunk[kept.count];
    std::memcpy(chunk.id, header, sizeof chunk.id);
    chunk.length = fromFile ? 0 : length;
    chunk.start = fromFile ? bodyStart - 8 : -1;
    chunk.held.reset();
    std::uint32_t got = 0;
    // Grown as it arrives: a tag's length is no promise of what follows.
    if (!fromFile && length > 0) {
      if (wavBytesHold(file, length, kMaxSourceSize, false, chunk.held, got) != 0) return -1;
      if (got < length) return 0;
    }
    ++kept.count;
  }
  WavKept &last = kept.chunk[kept.count - 1];
  last.padded = (length & 1u) != 0;
  if (fromFile) {
    last.size = static_cast<std::uint64_t>(bodyStart + length - last.start);
    wavFileSeek(file, bodyStart + length);
  }
  return 1;
}

void wavKeptRelease(WavKeptChunks &kept) {
  for (std::size_t i = 0; i < kept.count; ++i) kept.chunk[i].held.reset();
}

void wavKeptClear(WavKeptChunks &kept) {
  wavKeptRelease(kept);
  kept.count = 0;
  kept.beforeData = 0;
}

int wavKeptLoad(WavInfo &info) {
  WavSamplesReader reader;
  if (wavSamplesOpen(info, reader) != 0) return -1;
  int result = 0;
  for (std::size_t i = 0; i < info.kept.count && result == 0; ++i) {
    WavKept &chunk = info.kept.chunk[i];
    if (chunk.held || chunk.start < 0) continue;
    WavBuffer body = wavBufferAlloc(chunk.size);
    if (!body) {
      wavSay(kTextNoMemory);
      result = -1;
    } else if (wavFileReadAt(reader.file, chunk.start, body.get(), chunk.size) !=
               static_cast<std::int64_t>(chunk.size)) {
      wavSay(kTextInputChanged);
      result = -1;
    } else {
      chunk.held = std::move(body);
    }
  }
  wavSamplesClose(reader);
  return result;
}

std::uint64_t wavKeptSize(const WavKeptChunks &kept, std::size_t from, std::size_t to) {
  std::uint64_t size = 0;
  for (std::size_t i = from; i < to; ++i) {
    const WavKept &chunk = kept.chunk[i];
    size += (chunk.start >= 0 ? chunk.size : 8 + std::uint64_t{chunk.length}) + chunk.padded;
  }
  return size;
}

bool wavKeptSame(const WavKeptChunks &a, const WavKeptChunks &b) {
  if (a.count != b.count || a.beforeData != b.beforeData) return false;
  for (std::size_t i = 0; i < a.count; ++i)
    if (a.chunk[i].length != b.chunk[i].length || a.chunk[i].start != b.chunk[i].start ||
        a.chunk[i].size != b.chunk[i].size ||
        std::memcmp(a.chunk[i].id, b.chunk[i].id, 4) != 0)
      return false;
  return true;
}

namespace {

int bytesOut(std::FILE *file, const char *path, const std::uint8_t *bytes, std::size_t size) {
  if (size == 0 || std::fwrite(bytes, size, 1, file) == 1) return 0;
  wavSayFailure(kTextWriteFailure, path, wavErrnoGet());
  return -1;
}

// A held chunk's body or a run's bytes: from memory, or a window at a time
// from the source.
int bytesCopy(std::FILE *file, const char *path, WavSamplesReader &samples, const WavKept &chunk,
              std::uint8_t *scratch, std::size_t room) {
  const std::uint64_t total = chunk.start >= 0 ? chunk.size : chunk.length;
  if (chunk.held) return bytesOut(file, path, chunk.held.get(), total);
  for (std::uint64_t done = 0; done < total;) {
    const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(room, total - done));
    if (!samples.file ||
        wavFileReadAt(samples.file, chunk.start + static_cast<std::int64_t>(done), scratch, size) !=
            static_cast<std::int64_t>(size)) {
      wavSay(kTextInputChanged);
      return -1;
    }
    if (bytesOut(file, path, scratch, size) != 0) return -1;
    done += size;
  }
  return 0;
}

}  // namespace

int wavKeptWrite(std::FILE *file, const char *path, WavSamplesReader &samples, std::size_t from,
                 std::size_t to, std::uint8_t *scratch, std::size_t room) {
  const WavKeptChunks &kept = samples.info->kept;
  for (std::size_t i = from; i < to; ++i) {
    const WavKept &chunk = kept.chunk[i];
    std::uint8_t header[8];
    std::memcpy(header, chunk.id, 4);
    wavLe32Encode(header + 4, chunk.length);
    const std::uint8_t pad = 0;
    if ((chunk.start < 0 && bytesOut(file, path, header, sizeof header) != 0) ||
        bytesCopy(file, path, samples, chunk, scratch, room) != 0 ||
        (chunk.padded && bytesOut(file, path, &pad, 1) != 0))
      return -1;
  }
  return 0;
}
