// Reading a RIFF WAVE file into a WavInfo, with the report of the file that
// the program prints as it reads.
#pragma once

#include <cstdint>
#include <cstdio>

#include "wav_accepts.h"
#include "wav_format.h"
#include "wav_info.h"

// Reads the format block of a "fmt " chunk of length bytes at the file's
// position, and the extensible format's extension where accepts takes that
// format, prints its six report lines and accepts what accepts says.
// Returns 0 or -1; a block cut short by the end of the file fails with
// wavwiden-en's line alone.
int wavFmtRead(std::FILE *file, std::uint32_t length, const WavAccepts &accepts, WavFmt &fmt);

// Reads the file source names into info, as accepts says, and prints the
// report of the file: the file the name held when it was looked at, else
// the run fails as the input changed. The samples of its last "data" chunk
// are left in a regular file, where info notes them (info.file), and held in
// info.data from anything else (a pipe); so are the chunks the result keeps.
// Returns 0 or -1 after printing why.
int wavRead(const WavEntry &source, const WavAccepts &accepts, WavInfo &info);
