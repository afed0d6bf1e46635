// Fuzz target: arbitrary bytes as the input file of a whole run of the
// program (wavMain, both reads and the conversion), with an arbitrary delay
// text, and the result checked against an independent model of the file
// format. A run either fails (-1) leaving every file as it was, or succeeds
// and writes exactly the 44-byte header and the stereo samples the model
// predicts: twice the source's data, the left samples equal to the source.
//
// Input layout:
//   byte 0     bit 7: no delay argument (the default delay applies)
//              bit 6: the output path is the input path, one that names no
//                     folder (the file is overwritten from memory)
//              bit 5: the input is a named pipe that serves the file to each
//                     of the two reads
//              bits 6 and 5: the output path is the input path, a file of
//                     its own folder (the result takes its place)
//              bits 0-4: length of the delay text that follows
//   bytes 1..  the delay text (a zero byte ends it early), then the file
//
// Each input is run twice: with wavwiden's reading and with wavwiden-en's.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "wav_decimal.h"
#include "wav_info.h"
#include "wav_main.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void violated(const char *what) {
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}

#define FUZZ_CHECK(condition) \
  do {                        \
    if (!(condition)) violated(#condition); \
  } while (0)

std::uint16_t le16(const std::uint8_t *p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

std::uint32_t le32(const std::uint8_t *p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void put16(Bytes &out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(Bytes &out, std::uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

void putTag(Bytes &out, const char *tag) { out.insert(out.end(), tag, tag + 4); }

// What a run must do: whether it converts, and from what.
struct Source {
  bool converts = false;
  std::size_t others = 0;  // chunks besides "fmt ", "fact" and "data"
  bool padded = false;     // a chunk of odd length followed by a zero byte
  std::uint32_t rate = 0;
  std::uint16_t bits = 0;
  Bytes samples;
};

// The file format as the program accepts it, written from the format's rules
// rather than from the reader: the RIFF header, then chunks walked at body
// start + length (unsigned, no pad byte); the last "fmt " block (16 bytes,
// PCM, 8 or 16 bits) and the last "data" body (non-empty, wholly inside the
// file) count; one channel only. A pipe cannot seek back, so there the walk
// goes on after a "fmt " chunk of less than 16 bytes at the end of its block.
// A "data" chunk that claims more than the pipe holds is allocated as
// declared: claimed says the most.
Source sourceModel(const std::uint8_t *file, std::size_t size, bool pipe,
                   std::uint32_t &claimed) {
  Source source;
  claimed = 0;
  if (size < 12 || std::memcmp(file + 8, "WAVE", 4) != 0 || std::memcmp(file, "RIFF", 4) != 0)
    return source;
  bool fmtSeen = false;
  bool dataSeen = false;
  std::uint16_t channels = 0;
  std::uint64_t at = 12;
  while (at + 8 <= size) {
    const std::uint8_t *header = file + at;
    const std::uint32_t length = le32(header + 4);
    at += 8;
    if (std::memcmp(header, "fmt ", 4) == 0) {
      if (at + 16 > size) return source;
      const std::uint8_t *block = file + at;
      const std::uint16_t bits = le16(block + 14);
      if (le16(block) != 1 || (bits != 8 && bits != 16)) return source;
      channels = le16(block + 2);
      source.rate = le32(block + 4);
      source.bits = bits;
      fmtSeen = true;
      at += pipe && length < 16 ? 16 : length;
    } else if (std::memcmp(header, "data", 4) == 0) {
      if (length > size - at) claimed = length;
      if (length == 0 || length > size - at) return source;
      source.samples.assign(file + at, file + at + length);
      dataSeen = true;
      at += length;
    } else {
      at += length;
      if (std::memcmp(header, "fact", 4) != 0) ++source.others;
    }
    if ((length & 1u) != 0 && at < size && file[at] == 0) source.padded = true;
  }
  source.converts = fmtSeen && dataSeen && channels == 1;
  return source;
}

// The delay in frames: rate × delay is exact in long double (a 64-bit
// significand holds 32 × 24 bits), truncated and saturated; NaN gives 0.
std::int32_t delayModel(std::uint32_t rate, float delay) {
  const long double product = static_cast<long double>(rate) * static_cast<long double>(delay);
  if (std::isnan(product)) return 0;
  if (product >= 2147483647.0L) return INT32_MAX;
  if (product <= -2147483648.0L) return INT32_MIN;
  return static_cast<std::int32_t>(std::truncl(product));
}

// The stereo file the program must write for source.
Bytes stereoModel(const Source &source, std::int32_t delay) {
  const std::uint32_t width = source.bits / 8u;
  const std::uint32_t size = static_cast<std::uint32_t>(source.samples.size()) * 2;
  Bytes out;
  putTag(out, "RIFF");
  put32(out, size + 36);
  putTag(out, "WAVE");
  putTag(out, "fmt ");
  put32(out, 16);
  put16(out, 1);
  put16(out, 2);
  put32(out, source.rate);
  put32(out, width * 2 * source.rate);
  put16(out, width * 2);
  put16(out, source.bits);
  putTag(out, "data");
  put32(out, size);
  const std::int64_t frames = static_cast<std::int64_t>(source.samples.size() / width);
  for (std::int64_t i = 0; i < frames; ++i) {
    const std::int64_t j = i - delay;
    const std::int64_t right = j < 0 || j >= frames ? i : j;
    const std::uint8_t *left = &source.samples[static_cast<std::size_t>(i * width)];
    out.insert(out.end(), left, left + width);
    const std::uint8_t *delayed = &source.samples[static_cast<std::size_t>(right * width)];
    out.insert(out.end(), delayed, delayed + width);
  }
  // A 16-bit source of odd length leaves its last byte out; silence follows.
  if (width == 2 && source.samples.size() % 2 != 0) out.insert(out.end(), 2, 0);
  return out;
}

// For texts made only of the characters of a plain decimal number, the C
// library's strtod (in the C locale) reads the same number; rounded to float
// as the program rounds it, the two must agree bit for bit.
void checkDelayText(const std::string &text) {
  if (text.find_first_not_of(" \t\n\v\f\r+-.0123456789eE") != std::string::npos) return;
  const double wide = std::strtod(text.c_str(), nullptr);
  float expected;
  if (std::fabs(wide) >= 0x1.ffffffp127)
    expected = wide > 0 ? INFINITY : -INFINITY;
  else if (std::fabs(wide) > FLT_MAX)
    expected = wide > 0 ? FLT_MAX : -FLT_MAX;
  else
    expected = static_cast<float>(wide);
  const float actual = wavDecimalParse(text.c_str());
  FUZZ_CHECK(std::memcmp(&expected, &actual, sizeof expected) == 0);
}

// An in-memory file reachable by a path, so that the program opens, creates
// and truncates it like any other; nothing is left behind after a crash.
struct MemFile {
  int fd = -1;
  std::string path;
};

MemFile memFileOpen(const char *name) {
  MemFile file;
  file.fd = memfd_create(name, 0);
  if (file.fd < 0) violated("memfd_create");
  file.path = "/proc/self/fd/" + std::to_string(file.fd);
  return file;
}

void memFileSet(const MemFile &file, const std::uint8_t *bytes, std::size_t size) {
  if (ftruncate(file.fd, 0) != 0) violated("ftruncate");
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = pwrite(file.fd, bytes + done, size - done, static_cast<off_t>(done));
    if (n <= 0) violated("pwrite");
    done += static_cast<std::size_t>(n);
  }
}

Bytes memFileGet(const MemFile &file) {
  struct stat st;
  if (fstat(file.fd, &st) != 0) violated("fstat");
  Bytes bytes(static_cast<std::size_t>(st.st_size));
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = pread(file.fd, bytes.data() + done, bytes.size() - done,
                            static_cast<off_t>(done));
    if (n <= 0) violated("pread");
    done += static_cast<std::size_t>(n);
  }
  return bytes;
}

// Whether this process has the named pipe open other than through skip.
bool pipeHeld(const struct stat &fifo, int skip) {
  DIR *fds = opendir("/proc/self/fd");
  if (!fds) violated("opendir");
  bool held = false;
  while (const dirent *entry = readdir(fds)) {
    const int fd = std::atoi(entry->d_name);
    struct stat st;
    if (entry->d_name[0] == '.' || fd == skip || fd == dirfd(fds) || fstat(fd, &st) != 0) continue;
    if (st.st_dev == fifo.st_dev && st.st_ino == fifo.st_ino) held = true;
  }
  closedir(fds);
  return held;
}

// Serves the file, from a thread, to each opening of the named pipe by the
// program until stop is set, waiting for the program to close the pipe before
// the next, so that the two reads never share one stream.
void pipeServe(const std::string &path, const std::uint8_t *file, std::size_t size,
               const std::atomic<bool> &stop) {
  // libFuzzer's timer signal goes to the program's thread, never here.
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  struct stat fifo;
  if (stat(path.c_str(), &fifo) != 0) violated("stat fifo");
  for (int round = 0; round < 2; ++round) {
    int fd;
    while ((fd = open(path.c_str(), O_WRONLY | O_NONBLOCK)) < 0) {
      if (stop) return;
      usleep(10);
    }
    fcntl(fd, F_SETFL, 0);
    while (!stop && !pipeHeld(fifo, fd)) usleep(10);
    for (std::size_t done = 0; done < size;) {
      const ssize_t n = write(fd, file + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // the program stopped reading
      done += static_cast<std::size_t>(n);
    }
    close(fd);
    while (!stop && pipeHeld(fifo, -1)) usleep(10);
  }
}

Bytes fileGet(const std::string &path) {
  const MemFile file = {open(path.c_str(), O_RDONLY), path};
  if (file.fd < 0) violated("open");
  Bytes bytes = memFileGet(file);
  close(file.fd);
  return bytes;
}

void fileSet(const std::string &path, const std::uint8_t *bytes, std::size_t size) {
  const MemFile file = {open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), path};
  if (file.fd < 0) violated("open");
  memFileSet(file, bytes, size);
  close(file.fd);
}

const std::uint8_t kUntouched[] = {'u', 'n', 't', 'o', 'u', 'c', 'h', 'e', 'd'};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  signal(SIGPIPE, SIG_IGN);  // a write to a pipe the program has closed
  return 0;
}

namespace {

// libFuzzer's timer signal (SIGALRM) would cut a read from a pipe short with
// EINTR, which no run of the program meets: its handler restarts them here.
void timerRestarts() {
  struct sigaction action;
  if (sigaction(SIGALRM, nullptr, &action) == 0 && !(action.sa_flags & SA_RESTART)) {
    action.sa_flags |= SA_RESTART;
    sigaction(SIGALRM, &action, nullptr);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  timerRestarts();
  static const MemFile input = memFileOpen("wavwiden-fuzz-in");
  static const MemFile output = memFileOpen("wavwiden-fuzz-out");
  static const std::string fifo = "/dev/shm/wavwiden-fuzz-" + std::to_string(getpid()) + ".fifo";
  static const std::string folder = "/dev/shm/wavwiden-fuzz-" + std::to_string(getpid());
  static const std::string named = folder + "/in.wav";

  const bool delayGiven = (data[0] & 0x80) == 0;
  const bool piped = (data[0] & 0x60) == 0x20;
  const bool inPlace = (data[0] & 0x40) != 0;
  const bool byName = (data[0] & 0x60) == 0x60;
  std::size_t textSize = data[0] & 0x1F;
  if (textSize > size - 1) textSize = size - 1;
  const std::string text(reinterpret_cast<const char *>(data + 1),
                         strnlen(reinterpret_cast<const char *>(data + 1), textSize));
  const std::uint8_t *file = data + 1 + textSize;
  const std::size_t fileSize = size - 1 - textSize;

  std::uint32_t claimed = 0;
  const Source source = sourceModel(file, fileSize, piped, claimed);
  // Through a pipe a claim is allocated as declared: keep it small.
  if (piped && claimed > (1u << 20)) return 0;

  // Both readings, each on the file as it was: wavwiden's, checked against
  // the model, and wavwiden-en's wider one, which converts what wavwiden
  // converts into the same samples, a plain file into the same file. A
  // pad byte it skips where wavwiden reads it as an id, or more chunks
  // than it keeps, leave it free to differ.
  // wavwiden's command line both times: the reading alone differs.
  const WavCommand widened = {kWavwidenCommand.voice, kWavwidenCommand.options,
                              kWavwidenCommand.strictDelay, kWavwidenCommand.streams,
                              kWavAcceptsWide};
  for (const WavCommand *command : {&kWavwidenCommand, &widened}) {
    const bool wide = command == &widened;
    memFileSet(input, file, fileSize);
    memFileSet(output, kUntouched, sizeof kUntouched);
    if (byName) {
      // Made afresh for each input and removed after it, so none is left behind.
      unlink(named.c_str());
      rmdir(folder.c_str());
      if (mkdir(folder.c_str(), 0700) != 0) violated("mkdir");
      fileSet(named, file, fileSize);
    }
    const std::string &inPath = piped ? fifo : byName ? named : input.path;
    const std::string &outPath = byName ? named : inPlace ? input.path : output.path;
    char *argv[] = {const_cast<char *>("wavwiden"), const_cast<char *>(inPath.c_str()),
                    const_cast<char *>(outPath.c_str()), const_cast<char *>(text.c_str()), nullptr};
    std::atomic<bool> stop{false};
    std::thread server;
    if (piped) {
      // Made afresh for each input and removed after it, so none is left behind.
      unlink(fifo.c_str());
      if (mkfifo(fifo.c_str(), 0600) != 0) violated("mkfifo");
      server = std::thread(pipeServe, std::cref(fifo), file, fileSize, std::cref(stop));
    }
    const int status = wavMain(delayGiven ? 4 : 3, argv, *command);
    stop = true;
    if (piped) {
      server.join();
      unlink(fifo.c_str());
    }

    const Bytes written = byName ? fileGet(named) : memFileGet(inPlace ? input : output);
    if (byName) {
      // The new file written beside the source replaced it or is gone.
      unlink(named.c_str());
      FUZZ_CHECK(rmdir(folder.c_str()) == 0);
    }
    const Bytes untouched = inPlace ? Bytes(file, file + fileSize)
                                    : Bytes(kUntouched, kUntouched + sizeof kUntouched);
    FUZZ_CHECK(status == 0 || status == -1);
    const bool unbound = wide && (source.padded || source.others > kWavKeptMax);
    if (!wide) FUZZ_CHECK((status == 0) == source.converts);
    else if (!unbound && source.converts) FUZZ_CHECK(status == 0);
    if (status == 0) {
      // A RIFF file whose size is its own.
      FUZZ_CHECK(written.size() >= 44 && le32(written.data() + 4) == written.size() - 8);
    } else {
      FUZZ_CHECK(written == untouched);
    }
    if (status == 0 && source.converts && !unbound) {
      const float delay = delayGiven ? wavDecimalParse(text.c_str()) : 0.03f;
      const Bytes model = stereoModel(source, delayModel(source.rate, delay));
      if (!wide || source.others == 0) {
        FUZZ_CHECK(written == model);
      } else {
        // The samples: the "data" chunk after the kept chunks that stood before.
        const Bytes samples(model.begin() + 44, model.end());
        FUZZ_CHECK(std::search(written.begin(), written.end(), samples.begin(), samples.end()) !=
                   written.end());
      }
    }
    if (!inPlace) FUZZ_CHECK(memFileGet(input) == Bytes(file, file + fileSize));
  }
  if (delayGiven) checkDelayText(text);
  return 0;
}
