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
// same stream, else the file changed in between.
bool sameStream(const WavInfo &stereo, const WavInfo &mono) {
  return std::uint64_t{mono.dataSize} * 2 == stereo.dataSize &&
         mono.bitsPerSample == stereo.bitsPerSample && mono.sampleRate == stereo.sampleRate &&
         mono.channels == 1;
}

int convert(int argc, char **argv) {
  StereoJob job;
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
  job.out.dataSize *= 2;
  job.out.channels = 2;
  job.out.bytesPerSec *= 2;
  // The pages that hold the first read's samples become the start of the
  // stereo buffer, which the frame loop overwrites whole.
  job.out.data = wavBufferGrow(std::move(job.out.data), job.out.dataSize);
  if (!job.out.data) {
    wavErrPrint("%s", kTextNoMemory.sjis);
    return -1;
  }

  if (wavRead(inPath, job.in) != 0) return -1;
  if (!sameStream(job.out, job.in)) {
    wavErrPrint("%s", kTextInputChanged.sjis);
    return -1;
  }
  if (wavWrite(outPath, job) != 0) return -1;
  wavOutPrint(kTextConverted.sjis, inPath, outPath);
  return 0;
}

}  // namespace

// The job's buffers go with it on every way out; the collected standard
// output is written out on every way out too.
int wavMain(int argc, char **argv) {
  const int status = convert(argc, argv);
  wavOutFlush();
  return status;
}
