#include "wav_samples.h"

#include <utility>

#include "wav_console.h"
#include "wav_entry.h"
#include "wav_file.h"
#include "wav_text.h"

int wavSamplesTake(std::FILE *file, std::uint32_t length, WavInfo &info) {
  info.dataSize = length;
  info.data.reset();
  const std::int64_t fileSize = info.file.id.size;
  if (length > 0 && fileSize >= 0) {
    const std::int64_t bodyStart = wavFileTell(file);
    if (length > fileSize - bodyStart) {
      wavSay(kTextReadFailed);
      return -1;
    }
    info.file.start = bodyStart;
    wavFileSeek(file, bodyStart + length);
    return 0;
  }
  // A pipe's chunk is allocated as it declares itself, its size being
  // unknown, but never past what converts. A length of 0 is no buffer at all.
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
