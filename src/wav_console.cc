#include "wav_console.h"

#include <cstdarg>
#include <cstring>
#include <memory>
#include <new>

#ifdef _WIN32
#include <io.h>
#define WAV_ISATTY(fd) _isatty(fd)
#define WAV_FILENO(f) _fileno(f)
#else
#include <unistd.h>
#define WAV_ISATTY(fd) isatty(fd)
#define WAV_FILENO(f) fileno(f)
#endif

namespace {

struct ConsoleState {
  bool ready = false;
  bool outIsTerminal = false;
  bool outIsFile = false;
  WavFileId outFile;  // the regular file standard output writes to
  ConsoleBuffer out;
};

ConsoleState console;

// Formats into a stack buffer when the text fits, else into the heap. "%c"
// may put zero bytes into the text, so the length comes from vsnprintf.
template <typename Sink>
void consoleFormat(const char *format, std::va_list args, Sink sink) {
  char local[1024];
  std::va_list again;
  va_copy(again, args);
  int size = std::vsnprintf(local, sizeof local, format, args);
  if (size < 0) {
    va_end(again);
    return;
  }
  const std::size_t length = static_cast<std::size_t>(size);
  if (length < sizeof local) {
    sink(local, length);
  } else {
    std::unique_ptr<char[]> big(new (std::nothrow) char[length + 1]);
    if (big) {
      std::vsnprintf(big.get(), length + 1, format, again);
      sink(big.get(), length);
    }
  }
  va_end(again);
}

}  // namespace

// Both streams are made unbuffered before their first use: the collecting of
// standard output is done here, so the stream itself must not buffer again.
void wavConsoleStart() {
  if (console.ready) return;
  console.ready = true;
  console.outIsTerminal = WAV_ISATTY(WAV_FILENO(stdout)) != 0;
  console.outIsFile = wavFileIdGet(stdout, console.outFile) == 0;
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::setvbuf(stderr, nullptr, _IONBF, 0);
}

bool wavConsoleOutIs(const WavFileId &id) {
  return console.outIsFile && wavFileIdSame(console.outFile, id);
}

void wavConsoleFlush(ConsoleBuffer &buffer, std::FILE *sink) {
  if (buffer.used > 0) std::fwrite(buffer.bytes, 1, buffer.used, sink);
  buffer.used = 0;
}

void wavConsoleCollect(ConsoleBuffer &buffer, std::FILE *sink, const char *text,
                       std::size_t size) {
  while (size > 0) {
    const std::size_t piece = size < kConsolePieceSize ? size : kConsolePieceSize;
    if (buffer.used + piece > kConsoleBufferSize) wavConsoleFlush(buffer, sink);
    std::memcpy(buffer.bytes + buffer.used, text, piece);
    buffer.used += piece;
    text += piece;
    size -= piece;
  }
}

void wavOutPrint(const char *format, ...) {
  wavConsoleStart();
  std::va_list args;
  va_start(args, format);
  consoleFormat(format, args, [](const char *text, std::size_t size) {
    if (console.outIsTerminal)
      std::fwrite(text, 1, size, stdout);
    else
      wavConsoleCollect(console.out, stdout, text, size);
  });
  va_end(args);
}

void wavErrPrint(const char *format, ...) {
  wavConsoleStart();
  std::va_list args;
  va_start(args, format);
  consoleFormat(format, args,
                [](const char *text, std::size_t size) { std::fwrite(text, 1, size, stderr); });
  va_end(args);
}

void wavOutFlush() {
  wavConsoleStart();
  wavConsoleFlush(console.out, stdout);
}
