#include "wav_main.h"

int main(int argc, char **argv) { return wavMain(argc, argv); }
