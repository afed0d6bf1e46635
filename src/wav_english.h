// How wavwiden-en formats its texts: as printf does, but with every name in
// them shown as text that cannot drive a terminal (no control character, no
// byte that is not UTF-8), whatever a file's name holds.
#pragma once

#include <cstdarg>
#include <cstddef>

// vsnprintf for wavwiden-en's texts: formats into out (size bytes, the
// terminating zero included) and returns the length of the whole text, or -1
// for a conversion it does not take. Every string (%s) and character (%c) is
// shown as text that cannot drive a terminal: each byte 0x00-0x1F and 0x7F,
// each C1 control (U+0080-U+009F, by its code: U+009B as \x9b) and each byte
// that is not part of a valid UTF-8 sequence as \xNN, lowercase; all else as
// it is. Takes %% and the conversions c d i o u x X e E f g G, with printf's
// flags, width, precision and l, and s bare.
int wavEnglishFormat(char *out, std::size_t size, const char *format, std::va_list args);
