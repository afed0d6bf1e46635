// wavwiden-en: wavwiden speaking English, with a command line as GNU tools
// have it: options, "-" for the standard streams, a delay in full.
#include "wav_main.h"

#ifdef _WIN32
#include <windows.h>

#include "wav_file.h"

// The arguments are taken in UTF-8, as the program prints them, so that every
// name is printed as it was given.
int wmain(int argc, wchar_t **argv) {
  return wavMain(argc, wavArgsNarrow(argc, argv, CP_UTF8), kWavwidenEnCommand);
}
#else
int main(int argc, char **argv) { return wavMain(argc, argv, kWavwidenEnCommand); }
#endif
