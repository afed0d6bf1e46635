// What a program accepts of a source and keeps of it: chosen once, by the
// program's entry, and handed through the driver to the reader. wavwiden
// reads WAVE files its own way (no pad bytes, 8- and 16-bit PCM only, a
// "data" chunk wholly in the file, no other chunk kept); wavwiden-en reads
// them as RIFF defines them, a superset of that.
#pragma once

struct WavAccepts {
  bool padSkipped;   // a zero byte after a chunk of odd length is its pad
  bool wideFormats;  // PCM of 8 to 32 bits, float, A-law, µ-law, extensible;
                     // else PCM of 8 or 16 bits, refused in wavwiden's words
  bool cutShortRead; // a "data" chunk declaring more than follows is read to
                     // the end of the source, with a warning
  bool chunksKept;   // the other chunks are copied into the result
};

inline constexpr WavAccepts kWavAcceptsSpecified = {false, false, false, false};
inline constexpr WavAccepts kWavAcceptsWide = {true, true, true, true};
