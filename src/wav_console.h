// The two console streams. wavwiden speaks Japanese in Shift_JIS, written
// the way the Windows C runtime writes it: standard error unbuffered, one
// write per formatted output; standard output unbuffered on a terminal and
// otherwise collected in a 512-byte buffer that takes each output in pieces
// of 80 bytes, so that error lines can reach a combined capture ahead of
// standard-output text still being collected, and nothing but wavOutFlush
// writes that text out (the driver calls it on every way out). wavwiden-en
// speaks English in UTF-8 (wide text to a Windows console), each output
// written at once: its report on standard output, its warnings and failures
// on standard error. What wavwiden-en prints of a name cannot drive a
// terminal; its failures carry the system's reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "wav_file.h"
#include "wav_text.h"

constexpr std::size_t kConsoleBufferSize = 512;
constexpr std::size_t kConsolePieceSize = 80;

// Text collected for a stream that is not a terminal.
struct ConsoleBuffer {
  char bytes[kConsoleBufferSize];
  std::size_t used = 0;
};

// Adds one formatted output to the buffer piece by piece, first writing out
// what is collected whenever the next piece would not fit.
void wavConsoleCollect(ConsoleBuffer &buffer, std::FILE *sink, const char *text,
                       std::size_t size);

// Writes out what the buffer holds.
void wavConsoleFlush(ConsoleBuffer &buffer, std::FILE *sink);

// Which program speaks.
enum class WavVoice { kJapanese, kEnglish };

// Takes the two streams as the program found them, for voice: made
// unbuffered, and the regular file standard output writes to, if any, noted.
// The first print does this, for wavwiden, where nothing did before; the
// driver does it before it opens any file, which could take the number of a
// closed standard output.
void wavConsoleStart(WavVoice voice);

// Whether the regular file id names is the one standard output was writing
// to when the program started.
bool wavConsoleOutIs(const WavFileId &id);

// Prints text formatted with args, in the voice's own words and on its own
// stream, where the voice has words for it.
void wavConsoleSay(const WavText *text, ...);
template <typename... Args>
void wavSay(const WavText &text, Args... args) {
  wavConsoleSay(&text, args...);
}

// Prints the length line of a chunk, text being kTextChunkLength,
// kTextFmtLength or kTextDataLength: its four id bytes as they are, and the
// length as a signed number, for wavwiden; its id as text, unprintable bytes
// escaped (printable ASCII other than " and \ as it is, all else as \xNN,
// lowercase), and the length as it is, for wavwiden-en.
void wavSayChunk(const WavText &text, const std::uint8_t *id, std::uint32_t length);

// What a failed call left to say why: errno, or on Windows the code
// GetLastError() gives after a Win32 call. It is taken right after the call
// that failed, before anything else can change it (closing a file, printing).
enum class WavErrorKind : std::uint8_t { kErrno, kWin32 };
struct WavError {
  WavErrorKind kind = WavErrorKind::kErrno;
  std::uint32_t code = 0;
};

// errno, after a failed C library or POSIX call; on Windows also after a
// failed C runtime call (_wfopen, fread, fwrite, fclose, _chsize_s, _read,
// _write), which sets errno from the system's code. Not _doserrno: the
// runtime leaves that as it was after the failures it finds itself (a bad
// descriptor, no descriptor left, no memory).
WavError wavErrnoGet();
#ifdef _WIN32
// GetLastError(), after a failed Win32 call (CreateFileW, MoveFileExW,
// ReplaceFileW, FlushFileBuffers, SetFileInformationByHandle).
WavError wavLastErrorGet();
#endif

// Room for a reason, its terminating zero included.
constexpr std::size_t kWavReasonSize = 1024;

// The system's reason for error in English, one line without a full stop,
// into text: strerror's text for errno (the program sets no locale, so it is
// the C locale's English; the Windows C runtime's is English too), and for a
// Win32 code the system's message in US English, else in the language
// Windows picks by default, else "error N", as UTF-8.
void wavErrorReason(const WavError &error, char (&text)[kWavReasonSize]);

// Prints a failure. wavwiden prints text's Japanese formatted with args,
// exactly as wavSay would: path and error play no part in it. wavwiden-en
// prints a failure text's English (WavText::failure) with path, the file the
// failure is about, and the reason for error, and any other text's English
// with args.
void wavConsoleFail(const WavText *text, WavError error, const char *path, ...);
template <typename... Args>
void wavSayFailure(const WavText &text, const char *path, WavError error, Args... args) {
  wavConsoleFail(&text, error, path, args...);
}

// The report printed next repeats the one printed: wavwiden-en leaves it out.
void wavReportRepeat();

// Standard output carries the result: wavwiden-en prints all it has to say
// on standard error from now on.
void wavReportAside();

// Writes out what standard output has collected.
void wavOutFlush();
