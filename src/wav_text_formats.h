// The texts of the wider reading and of the chunks kept, in the table's
// form (wav_text.h). Those wavwiden-en alone prints have no Japanese; those
// that stand where wavwiden prints one of its own texts (a source that is not
// mono, not RIFF, with an empty "data" chunk) carry that text's Japanese and
// say more in English.
#pragma once

#include "wav_text.h"

constexpr WavText wavInsteadOf(const WavText &japanese, const char *english) {
  return {japanese.readable, japanese.sjis, english, WavStream::kErr, false};
}
inline constexpr WavText kTextChannelCount = wavInsteadOf(kTextNotMono,
    "error: the source has %u channels: only a mono source converts; mix it down to one channel first\n");
inline constexpr WavText kTextRf64 = wavInsteadOf(kTextNoRiff,
    "error: the source is RF64 (larger than 4 GiB), which is not read: its stereo result could not be a WAVE file\n");
inline constexpr WavText kTextDataEmpty = wavInsteadOf(kTextNoMemory,
    "error: the source's \"data\" chunk is empty: it holds no samples\n");
inline constexpr WavText kTextFormatRefused = wavEnglish(
    "error: the source is in format 0x%04X (%s), which does not convert: PCM, IEEE float, A-law and µ-law do\n", WavStream::kErr);
inline constexpr WavText kTextBitsRefused = wavEnglish(
    "error: the source's %s samples have %u bits: PCM converts with 8, 16, 24 or 32, float with 32 or 64, A-law and µ-law with 8\n", WavStream::kErr);
inline constexpr WavText kTextExtensionShort = wavEnglish(
    "error: the source's extensible format block is cut short (a %lu-byte \"fmt \" chunk, %u bytes of extension): it needs 40 and 22\n", WavStream::kErr);
inline constexpr WavText kTextSubFormatRefused = wavEnglish(
    "error: the source's extensible format has the SubFormat %s, neither PCM nor IEEE float\n", WavStream::kErr);
inline constexpr WavText kTextValidBitsRefused = wavEnglish(
    "error: the source declares %u valid bits in a %u-bit sample\n", WavStream::kErr);
inline constexpr WavText kTextDataCutShort = wavEnglish(
    "warning: the \"data\" chunk declares %lu bytes but the source holds %lu after it: those are converted\n", WavStream::kErr);
inline constexpr WavText kTextTooManyChunks = wavEnglish(
    "error: the source has more than %d chunks besides \"fmt \", \"fact\" and \"data\" to keep\n", WavStream::kErr);
inline constexpr WavText kTextResultTooLarge = wavInsteadOf(kTextTooLarge,
    "error: the stereo result would be larger than a WAVE file can be (4 GiB)\n");

inline constexpr const WavText *kFormatTexts[] = {
    &kTextChannelCount, &kTextRf64, &kTextDataEmpty, &kTextFormatRefused, &kTextBitsRefused,
    &kTextExtensionShort, &kTextSubFormatRefused, &kTextValidBitsRefused, &kTextDataCutShort,
    &kTextTooManyChunks, &kTextResultTooLarge};
