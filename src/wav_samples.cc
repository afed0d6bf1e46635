#include "wav_samples.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "wav_console.h"
#include "wav_entry.h"
#include "wav_file.h"
#include "wav_text.h"

namespace {

// The first room a held body of unknown length gets: it doubles as the
// bytes arrive.
constexpr std::size_t kHoldStart = std::size_t{1} << 20;

// A pipe's chunk as wavwiden takes it: allocated as it declares itself, its
// size being unknown, but never past what converts, and read whole.
int declaredRead(std::FILE *file, std::uint32_t length, WavInfo &info) {
  if (length > kMaxSourceSize) {
    wavSay(kTextTooLarge);
    return -1;
  }
  info.data = wavBufferAlloc(length);
  if (!info.data) {
    wavSay(kTextNoMemory);
    return -1;
  }
  if (std::fread(info.data.get(), length, 1, file) != 1) {
    wavSay(kTextReadFailed);
    info.data.reset();
    return -1;
  }
  return 0;
}

}  // namespace

int wavBytesHold(std::FILE *file, std::uint32_t length, std::uint32_t limit, bool atItsWord,
                 WavBuffer &held, std::uint32_t &got) {
  got = 0;
  held.reset();
  // One byte past the limit tells that more than it came.
  const std::uint64_t most = std::min<std::uint64_t>(length, std::uint64_t{limit} + 1);
  std::size_t room = 0;
  while (got < most) {
    if (got == room) {
      // A length that could convert is taken at its word, as wavwiden takes
      // it (untouched memory costs nothing); a larger one grows.
      const std::size_t grown =
          room == 0 && atItsWord && length <= limit
              ? length
              : static_cast<std::size_t>(std::min<std::uint64_t>(most, std::max(kHoldStart, 2 * room)));
      WavBuffer bigger = wavBufferAlloc(grown);
      if (!bigger) {
        wavSay(kTextNoMemory);
        held.reset();
        return -1;
      }
      if (got > 0) std::memcpy(bigger.get(), held.get(), got);
      held = std::move(bigger);
      room = grown;
    }
    const std::size_t want = room - got;
    const std::size_t read = std::fread(held.get() + got, 1, want, file);
    got += static_cast<std::uint32_t>(read);
    if (read < want) break;
  }
  if (got > limit) {
    wavSay(kTextTooLarge);
    held.reset();
    return -1;
  }
  return 0;
}

int wavSamplesTake(std::FILE *file, std::uint32_t length, const WavAccepts &accepts,
                   WavInfo &info) {
  info.dataSize = info.dataDeclared = length;
  info.data.reset();
  info.file.start = -1;
  if (length == 0) {
    wavSay(kTextDataEmpty);
    return -1;
  }
  const std::int64_t fileSize = info.file.id.size;
  if (fileSize >= 0) {
    const std::int64_t bodyStart = wavFileTell(file);
    const std::int64_t held = fileSize - bodyStart;
    if (length > held) {
      if (!accepts.cutShortRead) {
        wavSay(kTextReadFailed);
        return -1;
      }
      if (held <= 0) {
        wavSay(kTextDataEmpty);
        return -1;
      }
      info.dataSize = static_cast<std::uint32_t>(held);
    }
    info.file.start = bodyStart;
    wavFileSeek(file, bodyStart + info.dataSize);
    return 0;
  }
  if (!accepts.cutShortRead) return declaredRead(file, length, info);
  std::uint32_t got = 0;
  if (wavBytesHold(file, length, kMaxSourceSize, true, info.data, got) != 0) return -1;
  if (got == 0) {
    wavSay(kTextDataEmpty);
    info.data.reset();
    return -1;
  }
  info.dataSize = got;
  return 0;
}

int wavSamplesLoad(WavInfo &info, WavBuffer buffer) {
  WavSamplesReader reader;
  if (wavSamplesOpen(info, reader) != 0) return -1;
  const std::uint8_t *bytes = nullptr;
  const int result = wavSamplesRead(reader, 0, info.dataSize, buffer.get(), bytes);
  wavSamplesClose(reader);
  if (result == 0) info.data = std::move(buffer);
  return result;
}

// A source that cannot be opened again for want of a descriptor, say, gets
// the message of any source that cannot be opened.
int wavSamplesOpen(const WavInfo &info, WavSamplesReader &reader) {
  reader = {&info, nullptr};
  if (info.data) return 0;
  bool other = false;
  reader.file = wavEntryReadOpen(*info.file.entry, other);
  WavFileId now;
  if (reader.file && wavFileIdGet(reader.file, now) == 0 && wavFileIdUnchanged(now, info.file.id)) {
    wavFileReadAhead(reader.file);
    return 0;
  }
  if (reader.file || other)
    wavSay(kTextInputChanged);
  else
    wavSayFailure(kTextInputOpenFailure, info.file.entry->path, wavEntryOpenError(),
                  info.file.entry->path);
  wavSamplesClose(reader);
  return -1;
}

int wavSamplesRead(WavSamplesReader &reader, std::size_t offset, std::size_t size,
                   std::uint8_t *scratch, const std::uint8_t *&bytes) {
  const WavInfo &info = *reader.info;
  if (info.data) {
    bytes = info.data.get() + offset;
    return 0;
  }
  bytes = scratch;
  const std::int64_t read = wavFileReadAt(
      reader.file, info.file.start + static_cast<std::int64_t>(offset), scratch, size);
  if (read == static_cast<std::int64_t>(size)) return 0;
  if (read < 0)
    wavSayFailure(kTextReadFailure, info.file.entry->path, wavErrnoGet());
  else
    wavSay(kTextInputChanged);
  return -1;
}

int wavSamplesCheck(const WavSamplesReader &reader) {
  WavFileId now;
  if (!reader.file ||
      (wavFileIdGet(reader.file, now) == 0 && wavFileIdUnchanged(now, reader.info->file.id)))
    return 0;
  wavSay(kTextInputChanged);
  return -1;
}

void wavSamplesClose(WavSamplesReader &reader) {
  if (reader.file) std::fclose(reader.file);
  reader = {};
}
