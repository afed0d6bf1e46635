#include "wav_main.h"

#include <cstdint>
#include <utility>

#include "wav_console.h"
#include "wav_decimal.h"
#include "wav_read.h"
#include "wav_text.h"
#include "wav_write.h"

namespace {

// The largest source whose stereo data size plus 36 still fits the RIFF
// size field of the output.
constexpr std::uint32_t kMaxSourceSize = 0x7FFFFFFFu - 18u;

// The first read gave the stereo description; the second must describe the
// same stream, with its samples where the first found them, else the file
// changed in between.
bool sameStream(const WavInfo &stereo, const WavInfo &mono) {
  return std::uint64_t{mono.dataSize} * 2 == stereo.dataSize &&
         mono.bitsPerSample == stereo.bitsPerSample && mono.sampleRate == stereo.sampleRate &&
         mono.channels == 1 && (mono.data == nullptr) == (stereo.file.path != nullptr);
}

// Whether path names the file id names, under whatever name or link.
bool fileSame(const char *path, const WavFileId &id) {
  WavFileId other;
  return wavPathIdGet(path, other) == 0 && wavFileIdSame(other, id);
}

// Room for the result: the whole of it, or one window of it when the
// source's samples are read from their file as it is written.
int resultAlloc(StereoJob &job, bool whole) {
  // The pages that hold the first read's samples become the start of the
  // stereo buffer, which the frame loop overwrites whole.
  if (whole)
    job.out.data = wavBufferGrow(std::move(job.out.data), job.out.dataSize);
  else
    job.window = wavBufferAlloc(kWavWindowSize);
  if (whole ? job.out.data : job.window) return 0;
  wavErrPrint("%s", kTextNoMemory.sjis);
  return -1;
}

int convert(int argc, char **argv, StereoJob &job) {
  job.delay = 0.03f;
  if (argc > 3) job.delay = wavDecimalParse(argv[3]);
  if (argc < 3) {
    wavErrPrint("%s", kTextUsage.sjis);
    return -1;
  }
  const char *inPath = argv[1];
  const char *outPath = argv[2];

  if (wavRead(inPath, job.out) != 0) return -1;
  if (job.out.channels != 1) {
    wavErrPrint("%s", kTextNotMono.sjis);
    return -1;
  }
  if (job.out.dataSize > kMaxSourceSize) {
    wavErrPrint("%s", kTextTooLarge.sjis);
    return -1;
  }
  // A regular file keeps its samples until the writer reads them. Converted
  // into itself, it is replaced by a new file written beside it; where none
  // can be made there, it is overwritten from memory, like the samples of a
  // pipe, which are held in memory from the start.
  const bool inFile = !job.out.data;
  const bool inPlace = inFile && fileSame(outPath, job.out.file.id);
  const bool inMemory = !inFile || (inPlace && wavReplaceCreate(outPath, job.replace) != 0);
  job.out.dataSize *= 2;
  job.out.channels = 2;
  job.out.bytesPerSec *= 2;
  if (resultAlloc(job, inMemory) != 0) return -1;

  if (wavRead(inPath, job.in) != 0) return -1;
  if (!sameStream(job.out, job.in)) {
    wavErrPrint("%s", kTextInputChanged.sjis);
    return -1;
  }
  if (inFile && inMemory && wavSamplesLoad(job.in) != 0) return -1;
  if (wavWrite(outPath, job) != 0) return -1;
  if (inPlace && !inMemory && wavReplaceCommit(job.replace) != 0) {
    // The folder refused the rename (a sticky one): the source, still as it
    // was, is overwritten from memory instead.
    job.window.reset();
    if (resultAlloc(job, true) != 0 || wavSamplesLoad(job.in) != 0 || wavWrite(outPath, job) != 0)
      return -1;
  }
  wavOutPrint(kTextConverted.sjis, inPath, outPath);
  return 0;
}

}  // namespace

// The job's buffers go with it on every way out, and a new file that did not
// replace the source is removed; the collected standard output is written
// out on every way out too.
int wavMain(int argc, char **argv) {
  StereoJob job;
  const int status = convert(argc, argv, job);
  wavReplaceDiscard(job.replace);
  wavOutFlush();
  return status;
}
