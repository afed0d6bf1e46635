#include "wav_main.h"

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "wav_command.h"
#include "wav_console.h"
#include "wav_entry.h"
#include "wav_kept.h"
#include "wav_read.h"
#include "wav_replace.h"
#include "wav_samples.h"
#include "wav_stereo.h"
#include "wav_text.h"
#include "wav_write.h"

namespace {

// The first read gave the stereo description; the second must describe the
// same stream, with its samples where the first found them, in the same
// file, unchanged, else the file changed in between.
bool sameStream(const WavInfo &stereo, const WavInfo &mono) {
  return std::uint64_t{mono.dataSize} * 2 == stereo.dataSize &&
         mono.bitsPerSample == stereo.bitsPerSample && mono.sampleRate == stereo.sampleRate &&
         mono.channels == 1 && mono.formatTag == stereo.formatTag &&
         mono.validBits == stereo.validBits &&
         std::memcmp(mono.subFormat, stereo.subFormat, sizeof mono.subFormat) == 0 &&
         wavKeptSame(mono.kept, stereo.kept) && (mono.data == nullptr) == (stereo.file.entry != nullptr) &&
         (mono.data || wavFileIdUnchanged(mono.file.id, stereo.file.id));
}

// The window the result is made in and, for a source to be overwritten from
// memory, the buffer its samples are loaded into: both asked for before the
// second read, so that a run short of memory fails right after the first
// report.
int buffersAlloc(StereoJob &job, std::uint32_t heldSize, WavBuffer &held) {
  job.window = wavBufferAlloc(kWavWindowSize);
  if (heldSize > 0) held = wavBufferAlloc(heldSize);
  if (job.window && (heldSize == 0 || held)) return 0;
  wavSay(kTextNoMemory);
  return -1;
}

// And once the source is known: a delay that leaves the right channel the
// left one, as long as the source or shorter than a frame. A negative delay
// is meant, and so is 0.
void delayFramesWarn(const WavInfo &source, float delay) {
  if (!(delay > 0.0f)) return;
  const std::int32_t frames = wavDelayFrames(source.sampleRate, delay);
  if (frames == 0)
    wavSay(kTextDelayNoFrames, double{delay}, static_cast<unsigned long>(source.sampleRate));
  else if (static_cast<std::uint32_t>(frames) >= source.dataSize / (source.bitsPerSample / 8u))
    wavSay(kTextDelayCoversSource, long{frames});
}

// Each name is looked at once, now; every file is then opened through what
// was seen, so that no rename meanwhile can aim the run elsewhere. "-" is a
// standard stream where the command takes it so. True where the two are one
// name.
bool namesLook(const WavCommand &command, const WavOperands &read, WavEntry &source,
               WavEntry &output) {
  const bool inStream = command.streams && std::strcmp(read.in, "-") == 0;
  const bool outStream = command.streams && std::strcmp(read.out, "-") == 0;
  if (!inStream && !outStream) return wavEntriesLook(read.in, read.out, source, output);
  // The standard streams first, before any open can take a closed one's number.
  if (inStream) wavEntryStandard(read.in, 0, source);
  if (outStream) wavEntryStandard(read.out, 1, output);
  if (!inStream) wavEntryLook(read.in, source);
  if (!outStream) wavEntryLook(read.out, output);
  return false;
}

// Where the command takes streams, an output that is standard output by any
// name takes the result, the report going to standard error, unless it is
// the source; a terminal takes none. 0, or -1 after printing why, before
// anything is read or written.
int outputCheck(const WavCommand &command, const WavEntry &source, const WavEntry &output) {
  if (!command.streams) return 0;
  if (wavEntryTerminal(output)) {
    wavSay(kTextOutputTerminal, output.path);
    return -1;
  }
  if (!wavEntryIsDescriptor(output, 1)) return 0;
  WavFileId out;
  if (source.looked && source.seen == WavSeen::kFile && wavDescriptorIdGet(1, out) == 0 &&
      wavFileIdSame(out, source.id)) {
    wavSay(kTextOutputIsSource, source.path);
    return -1;
  }
  wavReportAside();
  return 0;
}

// Standard input is read once: the source is what its first read took, its
// samples and kept chunks in memory or still in its file. The first keeps
// its numbers, for the stereo description.
void readKept(WavInfo &first, WavInfo &source) {
  source.sampleRate = first.sampleRate;
  source.bitsPerSample = first.bitsPerSample;
  source.dataSize = first.dataSize;
  source.dataDeclared = first.dataDeclared;
  source.channels = first.channels;
  source.bytesPerSec = first.bytesPerSec;
  source.formatTag = first.formatTag;
  source.validBits = first.validBits;
  std::memcpy(source.subFormat, first.subFormat, sizeof source.subFormat);
  source.data = std::move(first.data);
  source.file = first.file;
  for (std::size_t i = 0; i < first.kept.count; ++i)
    source.kept.chunk[i] = std::move(first.kept.chunk[i]);
  source.kept.count = first.kept.count;
  source.kept.beforeData = first.kept.beforeData;
}

int convert(const WavOperands &read, const WavCommand &command, StereoJob &job,
            WavEntry &source, WavEntry &output, WavReplace &replace) {
  job.delay = read.seconds;
  if (job.delay >= 1.0f) wavSay(kTextDelayLong, double{job.delay});
  const char *inPath = read.in;
  const char *outPath = read.out;
  const bool oneName = namesLook(command, read, source, output);
  if (outputCheck(command, source, output) != 0) return -1;

  if (wavRead(source, command.accepts, job.out) != 0) return -1;
  if (job.out.channels != 1) {
    wavSay(kTextChannelCount, unsigned{job.out.channels});
    return -1;
  }
  if (wavResultSize(job.out) > kWavResultMax) {
    wavSay(kTextResultTooLarge);
    return -1;
  }
  if (job.out.dataDeclared != job.out.dataSize)
    wavSay(kTextDataCutShort, static_cast<unsigned long>(job.out.dataDeclared),
           static_cast<unsigned long>(job.out.dataSize));
  delayFramesWarn(job.out, job.delay);
  // A regular file converted into itself, by its own name or by another
  // that held it at the start, is replaced by a new file made in its folder;
  // where none can be made there, it is overwritten, its samples loaded into
  // memory as a pipe's are read there.
  const bool inPlace =
      job.out.file.entry && (oneName || (output.seen == WavSeen::kFile &&
                                         wavFileIdSame(output.id, job.out.file.id)));
  if (inPlace && wavReplaceCreate(output, job.out.file.id, replace) != 0) return -1;
  const bool once = source.stream >= 0;
  if (once) readKept(job.out, job.in);
  const std::uint32_t sourceSize = job.out.dataSize;
  job.out.dataSize *= 2;
  job.out.channels = 2;
  job.out.bytesPerSec *= 2;
  job.out.data.reset();
  wavKeptRelease(job.out.kept);
  WavBuffer held;
  if (buffersAlloc(job, replace.overwrite ? sourceSize : 0, held) != 0) return -1;

  wavReportRepeat();
  if (!once && wavRead(source, command.accepts, job.in) != 0) return -1;
  if (!once && !sameStream(job.out, job.in)) {
    wavSay(kTextInputChanged);
    return -1;
  }
  // The file standard output writes to is left alone, where the report would
  // land amid the samples, however the output's name led to it.
  if (!command.streams && output.seen == WavSeen::kFile && wavConsoleOutIs(output.id)) {
    wavSay(kTextOutputOpenFailed, outPath);
    return -1;
  }
  // Overwritten, the source is read whole first: its kept chunks, then its
  // samples.
  if (replace.overwrite &&
      (wavKeptLoad(job.in) != 0 || wavSamplesLoad(job.in, std::move(held)) != 0))
    return -1;
  std::FILE *into = nullptr;
  const auto resultSize = static_cast<std::int64_t>(wavResultSize(job.in));
  if (inPlace && !(into = wavReplaceTake(replace, resultSize))) return -1;
  if (wavWrite(output, job, into, command.streams) != 0) return -1;
  if (inPlace && wavReplaceCommit(replace) != 0) return -1;
  wavSay(kTextConverted, inPath, outPath);
  return 0;
}

}  // namespace

// The job's buffers go with it on every way out, a new file that did not
// replace the source is removed where nothing was traded, and what the looks
// opened is closed; the collected standard output is written out on every
// way out too.
int wavMain(int argc, char **argv, const WavCommand &command) {
  wavConsoleStart(command.voice);
#ifdef SIGXFSZ
  // A write past the file-size limit fails like any other, with the writer's
  // messages, instead of ending the process; so does a report that no one
  // reads any more (a closed pipe), which takes nothing from the conversion.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
#endif
  StereoJob job;
  WavEntry source;
  WavEntry output;
  WavReplace replace;
  WavOperands read;
  int status = wavCommandRead(argc, argv, command, read);
  if (status == 0 && !read.done) status = convert(read, command, job, source, output, replace);
  wavReplaceDiscard(replace);
  wavEntryClose(source);
  wavEntryClose(output);
  wavOutFlush();
  return status;
}
