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
// terminal.
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

// The report printed next repeats the one printed: wavwiden-en leaves it out.
void wavReportRepeat();

// Writes out what standard output has collected.
void wavOutFlush();
