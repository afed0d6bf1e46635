// The delay argument: decimal text to a 32-bit float, the same on every
// platform and in every locale: wavwiden reads what number the text starts
// with, wavwiden-en takes only a plain number, with an optional unit.
#pragma once

// Reads optional leading white space, an optional sign, digits with an
// optional '.' and fraction and an optional exponent, and stops at the first
// character that cannot continue the number; text that holds no number gives
// 0. Right after a sign, "INF" and "NAN" give infinity and NaN. There is no
// hexadecimal form and no other spelling of infinity or NaN. The text is
// rounded correctly to a double, and that to a float.
float wavDecimalParse(const char *text);

// wavwiden-en's delay: whether text is, in full, a plain decimal number
// followed by an optional unit, s or ms (an optional sign, digits with an
// optional '.', an optional exponent: [+-]?(D+(.D*)?|.D+)([eE][+-]?D+)?),
// and nothing else: no space, no hexadecimal form, no infinity or NaN. If
// so, seconds is its value as wavDecimalParse reads the number, the decimal
// number of milliseconds first taken exactly as that many thousandths.
bool wavDelayParse(const char *text, float &seconds);
