#include "wav_main.h"

#ifdef _WIN32
#include <windows.h>

#include "wav_file.h"

// Windows hands the command line over as wide text: the program takes each
// argument in the ANSI code page, as it prints it, and opens files by the
// wide names, so that a name the code page cannot write still opens.
int wmain(int argc, wchar_t **argv) {
  return wavMain(argc, wavArgsNarrow(argc, argv, CP_ACP), kWavwidenCommand);
}
#else
int main(int argc, char **argv) { return wavMain(argc, argv, kWavwidenCommand); }
#endif
