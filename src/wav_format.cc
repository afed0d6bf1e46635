#include "wav_format.h"

#include <cstdio>
#include <cstring>

#include "wav_bytes.h"
#include "wav_console.h"
#include "wav_text.h"

namespace {

// The GUID of a format tag in the extensible format: the tag's 2 bytes,
// then these 14.
constexpr std::uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// The formats met in WAVE files that are not converted, by their names.
const char *formatName(std::uint16_t tag) {
  static const struct {
    std::uint16_t tag;
    const char *name;
  } kNames[] = {{0x0002, "Microsoft ADPCM"}, {0x0011, "IMA ADPCM"},
                {0x0022, "TrueSpeech"},      {0x0031, "GSM 6.10"},
                {0x0040, "G.721 ADPCM"},     {0x0050, "MPEG"},
                {0x0055, "MPEG layer 3"},    {0x0064, "G.726 ADPCM"},
                {0x00FF, "AAC"},             {0x0160, "Windows Media Audio"},
                {0x0161, "Windows Media Audio"}, {0x1610, "HE-AAC"},
                {0x2000, "Dolby AC-3"},      {0xF1AC, "FLAC"}};
  for (const auto &known : kNames)
    if (known.tag == tag) return known.name;
  return "not a known one";
}

// What the samples of a format tag are called in a message.
const char *samplesName(std::uint16_t tag) {
  switch (tag) {
    case kWavPcm: return "PCM";
    case kWavFloat: return "float";
    case kWavALaw: return "A-law";
    default: return "µ-law";
  }
}

// wavwiden's refusals: PCM of 8 or 16 bits only.
int specifiedCheck(const WavFmt &fmt) {
  if (fmt.wFormatTag != kWavPcm) {
    wavSay(kTextNotPcm);
    wavSay(kTextFormatTagIs, unsigned{fmt.wFormatTag});
    return -1;
  }
  if (fmt.wBitsPerSample != 8 && fmt.wBitsPerSample != 16) {
    wavSay(kTextNot8Or16Bits);
    wavSay(kTextBitsIs, int{fmt.wBitsPerSample});
    return -1;
  }
  return 0;
}

// The extensible format's SubFormat as a format tag: PCM's or float's, else
// 0 after printing that it is neither.
std::uint16_t subFormatTag(const WavFmt &fmt) {
  const std::uint16_t tag = wavLe16Decode(fmt.subFormat);
  if (std::memcmp(fmt.subFormat + 2, kGuidTail, sizeof kGuidTail) == 0 &&
      (tag == kWavPcm || tag == kWavFloat))
    return tag;
  const std::uint8_t *g = fmt.subFormat;
  char text[40];
  std::snprintf(text, sizeof text, "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                static_cast<unsigned long>(wavLe32Decode(g)), unsigned{wavLe16Decode(g + 4)},
                unsigned{wavLe16Decode(g + 6)}, g[8], g[9], g[10], g[11], g[12], g[13], g[14],
                g[15]);
  wavSay(kTextSubFormatRefused, static_cast<const char *>(text));
  return 0;
}

}  // namespace

int wavFormatCheck(const WavFmt &fmt, std::uint32_t length, const WavAccepts &accepts) {
  if (!accepts.wideFormats) return specifiedCheck(fmt);
  std::uint16_t tag = fmt.wFormatTag;
  const bool extensible = tag == kWavExtensible;
  if (extensible) {
    if (length < kWavFmtSize + kWavExtensionSize || fmt.cbSize < 22) {
      wavSay(kTextExtensionShort, static_cast<unsigned long>(length), unsigned{fmt.cbSize});
      return -1;
    }
    if ((tag = subFormatTag(fmt)) == 0) return -1;
  }
  const unsigned bits = fmt.wBitsPerSample;
  bool fits = false;
  switch (tag) {
    case kWavPcm: fits = bits == 8 || bits == 16 || bits == 24 || bits == 32; break;
    case kWavFloat: fits = bits == 32 || bits == 64; break;
    case kWavALaw:
    case kWavMuLaw: fits = bits == 8; break;
    default:
      wavSay(kTextFormatRefused, unsigned{tag}, formatName(tag));
      return -1;
  }
  if (!fits) {
    wavSay(kTextBitsRefused, samplesName(tag), bits);
    return -1;
  }
  if (extensible && fmt.wValidBitsPerSample > bits) {
    wavSay(kTextValidBitsRefused, unsigned{fmt.wValidBitsPerSample}, bits);
    return -1;
  }
  return 0;
}

std::uint8_t wavSilenceByte(const WavInfo &info) {
  if (info.formatTag == kWavALaw) return 0xD5;
  if (info.formatTag == kWavMuLaw) return 0xFF;
  const bool pcm = info.formatTag == kWavPcm ||
                   (info.formatTag == kWavExtensible && wavLe16Decode(info.subFormat) == kWavPcm);
  return pcm && info.bitsPerSample == 8 ? 0x80 : 0x00;
}

// Tag 1 gets the 16-byte block; float, A-law and µ-law the 18-byte one with
// an empty extension, and a "fact" chunk with the frame count; the
// extensible format its 40-byte block, its channels front left and right,
// and "fact" for float.
std::size_t wavFormatChunksEncode(const WavInfo &info, std::uint32_t riffSize,
                                  std::uint8_t *bytes) {
  const std::uint32_t width = info.bitsPerSample / 8u;
  const std::uint32_t blockAlign = width * info.channels;
  const bool extensible = info.formatTag == kWavExtensible;
  const bool fact = extensible ? wavLe16Decode(info.subFormat) == kWavFloat
                               : info.formatTag != kWavPcm;
  const std::uint32_t fmtSize = info.formatTag == kWavPcm ? 16 : extensible ? 40 : 18;
  wavTagEncode(bytes, "RIFF");
  wavLe32Encode(bytes + 4, riffSize);
  wavTagEncode(bytes + 8, "WAVE");
  wavTagEncode(bytes + 12, "fmt ");
  wavLe32Encode(bytes + 16, fmtSize);
  std::uint8_t *block = bytes + 20;
  wavLe16Encode(block, info.formatTag);
  wavLe16Encode(block + 2, info.channels);
  wavLe32Encode(block + 4, info.sampleRate);
  wavLe32Encode(block + 8, blockAlign * info.sampleRate);
  wavLe16Encode(block + 12, static_cast<std::uint16_t>(blockAlign));
  wavLe16Encode(block + 14, info.bitsPerSample);
  if (fmtSize > 16) wavLe16Encode(block + 16, static_cast<std::uint16_t>(fmtSize - 18));
  if (extensible) {
    wavLe16Encode(block + 18, info.validBits);
    wavLe32Encode(block + 20, 3);
    std::memcpy(block + 24, info.subFormat, sizeof info.subFormat);
  }
  std::size_t size = 20 + fmtSize;
  if (fact) {
    wavTagEncode(bytes + size, "fact");
    wavLe32Encode(bytes + size + 4, 4);
    wavLe32Encode(bytes + size + 8, blockAlign ? info.dataSize / blockAlign : 0);
    size += 12;
  }
  return size;
}
