#include "wav_console.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "wav_english.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
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
  WavVoice voice = WavVoice::kJapanese;
  bool repeated = false;  // the report being printed repeats the one printed
  bool aside = false;     // standard output carries the result
  bool outIsTerminal = false;
  bool outIsFile = false;
  WavFileId outFile;  // the regular file standard output writes to
  ConsoleBuffer out;
};

ConsoleState console;

// Formats in English, or as vsnprintf does for Japanese.
int formatInto(bool english, char *out, std::size_t size, const char *format,
               std::va_list args) {
  return english ? wavEnglishFormat(out, size, format, args)
                 : std::vsnprintf(out, size, format, args);
}

// Formats into a stack buffer when the text fits, else into the heap. "%c"
// may put zero bytes into the text, so the length comes from the formatting.
template <typename Sink>
void consoleFormat(bool english, const char *format, std::va_list args, Sink sink) {
  char local[1024];
  std::va_list again;
  va_copy(again, args);
  int size = formatInto(english, local, sizeof local, format, args);
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
      formatInto(english, big.get(), length + 1, format, again);
      sink(big.get(), length);
    }
  }
  va_end(again);
}

// English goes out as UTF-8, but to a Windows console as the wide text it
// shows whatever its code page.
void englishWrite(std::FILE *stream, const char *text, std::size_t size) {
#ifdef _WIN32
  HANDLE handle = GetStdHandle(stream == stdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  DWORD mode = 0;
  const int length = static_cast<int>(size);
  const int wide = MultiByteToWideChar(CP_UTF8, 0, text, length, nullptr, 0);
  if (GetConsoleMode(handle, &mode) && wide > 0) {
    std::wstring shown(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, length, shown.data(), wide);
    DWORD written = 0;
    WriteConsoleW(handle, shown.data(), static_cast<DWORD>(wide), &written, nullptr);
    return;
  }
#endif
  std::fwrite(text, 1, size, stream);
}

void ready() {
  if (!console.ready) wavConsoleStart(WavVoice::kJapanese);
}

}  // namespace

// Both streams are made unbuffered before their first use: the collecting of
// standard output is done here, so the stream itself must not buffer again.
void wavConsoleStart(WavVoice voice) {
  if (console.ready) return;
  console.ready = true;
  console.voice = voice;
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

namespace {

// Prints text formatted with args, in the voice's own words and on its own
// stream, where the voice has words for it.
void say(const WavText *text, std::va_list args) {
  ready();
  const bool english = console.voice == WavVoice::kEnglish;
  const char *format = english ? text->english : text->sjis;
  if (*format == '\0' || (english && text->report && console.repeated)) return;
  if (english) {
    const bool out = (text->report || text->stream == WavStream::kOut) && !console.aside;
    std::FILE *stream = out ? stdout : stderr;
    consoleFormat(true, format, args, [stream](const char *bytes, std::size_t size) {
      englishWrite(stream, bytes, size);
    });
  } else if (text->stream == WavStream::kErr || console.outIsTerminal) {
    std::FILE *stream = text->stream == WavStream::kErr ? stderr : stdout;
    consoleFormat(false, format, args, [stream](const char *bytes, std::size_t size) {
      std::fwrite(bytes, 1, size, stream);
    });
  } else {
    consoleFormat(false, format, args, [](const char *bytes, std::size_t size) {
      wavConsoleCollect(console.out, stdout, bytes, size);
    });
  }
}

}  // namespace

void wavConsoleSay(const WavText *text, ...) {
  std::va_list args;
  va_start(args, text);
  say(text, args);
  va_end(args);
}

void wavConsoleFail(const WavText *text, WavError error, const char *path, ...) {
  ready();
  if (console.voice == WavVoice::kEnglish && text->failure) {
    char reason[kWavReasonSize];
    wavErrorReason(error, reason);
    wavConsoleSay(text, path, static_cast<const char *>(reason));
    return;
  }
  std::va_list args;
  va_start(args, path);
  say(text, args);
  va_end(args);
}

void wavSayChunk(const WavText &text, const std::uint8_t *id, std::uint32_t length) {
  ready();
  const long printed = static_cast<std::int32_t>(length);
  if (console.voice == WavVoice::kEnglish) {
    std::string shown;
    for (int i = 0; i < 4; ++i) {
      char escaped[5];
      const bool plain = id[i] >= 0x20 && id[i] < 0x7F && id[i] != '"' && id[i] != '\\';
      std::snprintf(escaped, sizeof escaped, plain ? "%c" : "\\x%02x", id[i]);
      shown += escaped;
    }
    wavSay(text, shown.c_str(), static_cast<unsigned long>(length));
  } else if (&text == &kTextChunkLength) {
    wavSay(text, id[0], id[1], id[2], id[3], printed);
  } else {
    wavSay(text, printed);
  }
}

void wavReportRepeat() { console.repeated = true; }

void wavReportAside() { console.aside = true; }

void wavOutFlush() {
  ready();
  wavConsoleFlush(console.out, stdout);
}

WavError wavErrnoGet() { return {WavErrorKind::kErrno, static_cast<std::uint32_t>(errno)}; }

#ifdef _WIN32
WavError wavLastErrorGet() { return {WavErrorKind::kWin32, GetLastError()}; }

namespace {

// The system's message for a Win32 code as UTF-8, its line breaks made
// spaces; empty where it has none in US English or in the language Windows
// picks by default (language 0: neutral, the thread's, the user's, the
// system's, then US English).
void systemMessage(std::uint32_t code, char (&text)[kWavReasonSize]) {
  constexpr DWORD kFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                           FORMAT_MESSAGE_MAX_WIDTH_MASK;
  wchar_t wide[512];
  DWORD length = FormatMessageW(kFlags, nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                wide, 512, nullptr);
  if (length == 0) length = FormatMessageW(kFlags, nullptr, code, 0, wide, 512, nullptr);
  const int bytes = length == 0 ? 0
                                : WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), text,
                                                      static_cast<int>(sizeof text - 1), nullptr, nullptr);
  text[bytes > 0 ? bytes : 0] = '\0';
}

}  // namespace
#endif

void wavErrorReason(const WavError &error, char (&text)[kWavReasonSize]) {
  text[0] = '\0';
  if (error.kind == WavErrorKind::kErrno)
    std::snprintf(text, sizeof text, "%s", std::strerror(static_cast<int>(error.code)));
#ifdef _WIN32
  else
    systemMessage(error.code, text);
#endif
  std::size_t length = std::strlen(text);
  while (length > 0 && std::strchr("\r\n .", text[length - 1])) --length;
  text[length] = '\0';
  if (length == 0)
    std::snprintf(text, sizeof text, "error %lu", static_cast<unsigned long>(error.code));
}
