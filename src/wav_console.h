// The two console streams, written the way the Windows C runtime writes them:
// standard error unbuffered, one write per formatted output; standard output
// unbuffered on a terminal and otherwise collected in a 512-byte buffer that
// takes each output in pieces of 80 bytes. Error lines can therefore reach a
// combined capture ahead of standard-output text still being collected.
// Nothing but wavOutFlush writes out collected text; the driver calls it on
// every way out.
#pragma once

#include <cstddef>
#include <cstdio>

#include "wav_file.h"

// MinGW's g++ calls the C99 printf it is given gnu_printf; clang knows it as
// printf.
#if defined(__GNUC__)
#if defined(__MINGW32__) && !defined(__clang__)
#define WAV_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define WAV_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#endif
#else
#define WAV_PRINTF(fmt, args)
#endif

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

// Takes the two streams as the program found them: made unbuffered, and the
// regular file standard output writes to, if any, noted. The first print
// does this where nothing did before; the driver does it before it opens any
// file, which could take the number of a closed standard output.
void wavConsoleStart();

// Whether the regular file id names is the one standard output was writing
// to when the program started.
bool wavConsoleOutIs(const WavFileId &id);

void wavOutPrint(const char *format, ...) WAV_PRINTF(1, 2);
void wavErrPrint(const char *format, ...) WAV_PRINTF(1, 2);
void wavOutFlush();
