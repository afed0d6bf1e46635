#include "wav_english.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Text formatted into out, as snprintf does: what does not fit, room kept
// for the terminating zero, is counted but not written.
struct Formatted {
  char *out;
  std::size_t size;
  std::size_t length = 0;
};

void put(Formatted &text, const char *bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i, ++text.length)
    if (text.length + 1 < text.size) text.out[text.length] = bytes[i];
}

// The length of the valid UTF-8 sequence that the left bytes at bytes start
// with, or 0: no overlong form, no surrogate, nothing beyond U+10FFFF.
std::size_t utf8Length(const unsigned char *bytes, std::size_t left) {
  const unsigned lead = bytes[0];
  if (lead < 0x80) return 1;
  std::size_t length = 4;
  unsigned low = 0x80;  // the second byte's range
  unsigned high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < length || bytes[1] < low || bytes[1] > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if ((bytes[i] & 0xC0) != 0x80) return 0;
  return length;
}

// Puts size bytes as text that cannot drive a terminal (wavEnglishFormat).
void shownPut(Formatted &text, const char *bytes, std::size_t size) {
  const auto *p = reinterpret_cast<const unsigned char *>(bytes);
  for (std::size_t at = 0; at < size;) {
    const std::size_t length = utf8Length(p + at, size - at);
    const bool c1 = length == 2 && p[at] == 0xC2 && p[at + 1] < 0xA0;
    const bool control = length == 1 && (p[at] < 0x20 || p[at] == 0x7F);
    if (length > 0 && !c1 && !control) {
      put(text, bytes + at, length);
      at += length;
      continue;
    }
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", unsigned{c1 ? p[at + 1] : p[at]});
    put(text, escaped, 4);
    at += c1 ? 2 : 1;
  }
}

// snprintf of the next argument, taken as a T. The arguments come by the
// address of a va_list of this program's own, so that each use moves them on.
template <typename T>
int argumentPrint(char *room, std::size_t left, const char *spec, std::va_list *args) {
  return std::snprintf(room, left, spec, va_arg(*args, T));
}

// Each conversion is copied out, flags, width and precision with it, and
// handed to snprintf with an argument of the type it names. -1 for one it
// does not take.
int textFormat(Formatted &text, const char *format, std::va_list *args) {
  for (const char *p = format; *p != '\0';) {
    if (*p != '%') {
      put(text, p++, 1);
      continue;
    }
    const char *start = p++;
    while (*p != '\0' && std::strchr("-+ #0123456789.", *p)) ++p;
    const bool wide = *p == 'l';
    if (wide) ++p;
    const char conversion = *p++;
    char spec[16];
    const std::size_t specLength = static_cast<std::size_t>(p - start);
    if (conversion == '\0' || specLength >= sizeof spec) return -1;
    std::memcpy(spec, start, specLength);
    spec[specLength] = '\0';
    const bool bare = specLength == 2;
    char *room = text.length < text.size ? text.out + text.length : nullptr;
    const std::size_t left = text.length < text.size ? text.size - text.length : 0;
    int printed = 0;
    if (conversion == '%' && bare) {
      put(text, "%", 1);
    } else if (conversion == 's' && bare) {
      const char *shown = va_arg(*args, const char *);
      if (!shown) shown = "(null)";
      shownPut(text, shown, std::strlen(shown));
    } else if (conversion == 'c' && bare) {
      const char shown[] = {static_cast<char>(va_arg(*args, int)), '\0'};
      shownPut(text, shown, 1);
    } else if (conversion == 'd' || conversion == 'i') {
      printed = wide ? argumentPrint<long>(room, left, spec, args)
                     : argumentPrint<int>(room, left, spec, args);
    } else if (std::strchr("ouxX", conversion)) {
      printed = wide ? argumentPrint<unsigned long>(room, left, spec, args)
                     : argumentPrint<unsigned>(room, left, spec, args);
    } else if (std::strchr("eEfgG", conversion) && !wide) {
      printed = argumentPrint<double>(room, left, spec, args);
    } else {
      return -1;
    }
    if (printed < 0) return -1;
    text.length += static_cast<std::size_t>(printed);
  }
  return static_cast<int>(text.length);
}

}  // namespace

int wavEnglishFormat(char *out, std::size_t size, const char *format, std::va_list args) {
  Formatted text{out, size};
  std::va_list taken;
  va_copy(taken, args);
  const int length = textFormat(text, format, &taken);
  va_end(taken);
  if (size > 0) out[length < 0 ? 0 : (text.length < size ? text.length : size - 1)] = '\0';
  return length;
}
