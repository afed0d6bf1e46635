// Every text the program prints, in the one table: the Shift_JIS (code page
// 932) bytes wavwiden writes, beside the readable Japanese they encode, and
// the English that wavwiden-en writes instead, in UTF-8, with the same
// arguments (a chunk's name given as text, its length unsigned). wavwiden
// is a Japanese Windows console tool, so its output stays Shift_JIS whatever
// the terminal uses; pipe it through `iconv -f CP932` to read it on a UTF-8
// terminal. The texts are printf formats. A text one program does not print
// is empty for it: wavwiden's texts are fixed, so the warnings, the options'
// texts and the line for a format chunk cut short are wavwiden-en's alone.
// A failure text says why a file could not be opened, read, written, synced
// or renamed: wavwiden prints its Japanese, the same bytes as the text
// beside it without a reason, and wavwiden-en its English with the file's
// name and the system's reason (wavSayFailure); a text without a reason that
// wavwiden-en always prints with one has no English of its own.
#pragma once

// The version text's: the project's version and the copyright line of its
// license, from the build.
#if !defined(WAVWIDEN_VERSION) || !defined(WAVWIDEN_COPYRIGHT)
#error "the build defines WAVWIDEN_VERSION and WAVWIDEN_COPYRIGHT (CMakeLists.txt)"
#endif

// Where wavwiden writes a text.
enum class WavStream { kOut, kErr };

struct WavText {
  const char *readable;  // UTF-8, for people and for the encoding test
  const char *sjis;      // the bytes wavwiden writes
  const char *english;   // what wavwiden-en writes
  WavStream stream;      // where wavwiden writes it
  bool report = false;   // a line of the report of the source, which wavwiden-en
                         // prints once, all on standard output
  bool failure = false;  // a failure text: its English takes the file's name
                         // and the system's reason, and nothing else
};

inline constexpr WavText kTextUsage = {
    "モノラルをステレオに変換します.\n\n 引数に <入力ファイル名> <出力ファイル名>を\n 指定してください.\n\n 例 : wavwiden  foo.wav  out.wav\n",
    "\x83\x82\x83m\x83\x89\x83\x8B\x82\xF0\x83X\x83" "e\x83\x8C\x83I\x82\xC9\x95\xCF\x8A\xB7\x82\xB5\x82\xDC\x82\xB7.\n\n \x88\xF8\x90\x94\x82\xC9 <\x93\xFC\x97\xCD\x83t\x83@\x83" "C\x83\x8B\x96\xBC> <\x8Fo\x97\xCD\x83t\x83@\x83" "C\x83\x8B\x96\xBC>\x82\xF0\n \x8Ew\x92\xE8\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2.\n\n \x97\xE1 : wavwiden  foo.wav  out.wav\n",
    "Usage: wavwiden-en [OPTION]... IN.wav OUT.wav [DELAY]\nConverts the mono WAVE file IN.wav into the stereo file OUT.wav whose right\nchannel is the left delayed by DELAY seconds (0.03 when left out).\nerror: give the source's and the output's file names; wavwiden-en --help tells more\n",
    WavStream::kErr};
inline constexpr WavText kTextNotMono = {
    "入力はモノラルファイルでなければなりません!\n",
    "\x93\xFC\x97\xCD\x82\xCD\x83\x82\x83m\x83\x89\x83\x8B\x83t\x83@\x83" "C\x83\x8B\x82\xC5\x82\xC8\x82\xAF\x82\xEA\x82\xCE\x82\xC8\x82\xE8\x82\xDC\x82\xB9\x82\xF1!\n",
    "error: the source is not mono: mix it down to one channel first\n", WavStream::kErr};
inline constexpr WavText kTextNoMemory = {
    "メモリが確保できません.\n",
    "\x83\x81\x83\x82\x83\x8A\x82\xAA\x8Am\x95\xDB\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1.\n",
    "error: the source holds no samples, or they do not fit in memory\n", WavStream::kErr};
inline constexpr WavText kTextTooLarge = {
    "データが大きすぎて変換できません.\n",
    "\x83" "f\x81[\x83^\x82\xAA\x91\xE5\x82\xAB\x82\xB7\x82\xAC\x82\xC4\x95\xCF\x8A\xB7\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1.\n",
    "error: the source has more than 2147483629 bytes of samples, too many for a stereo WAVE file\n",
    WavStream::kErr};
inline constexpr WavText kTextInputChanged = {
    "入力ファイルが変換中に変わりました.\n",
    "\x93\xFC\x97\xCD\x83t\x83@\x83" "C\x83\x8B\x82\xAA\x95\xCF\x8A\xB7\x92\x86\x82\xC9\x95\xCF\x82\xED\x82\xE8\x82\xDC\x82\xB5\x82\xBD.\n",
    "error: the source changed while it was converted (rewritten, replaced, renamed or removed)\n",
    WavStream::kErr};
inline constexpr WavText kTextConverted = {
    "\nモノラルファイル [%s] を [%s] へステレオ変換しました.\n",
    "\n\x83\x82\x83m\x83\x89\x83\x8B\x83t\x83@\x83" "C\x83\x8B [%s] \x82\xF0 [%s] \x82\xD6\x83X\x83" "e\x83\x8C\x83I\x95\xCF\x8A\xB7\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n",
    "Converted the mono file %s into the stereo file %s.\n", WavStream::kOut};
inline constexpr WavText kTextFileName = {
    "\nファイル名[%s]\n",
    "\n\x83t\x83@\x83" "C\x83\x8B\x96\xBC[%s]\n",
    "File: %s\n", WavStream::kOut, true};
inline constexpr WavText kTextChunkLength = {
    " \"%c%c%c%c\"の長さ: %ld [bytes]\n",
    " \"%c%c%c%c\"\x82\xCC\x92\xB7\x82\xB3: %ld [bytes]\n",
    "  chunk \"%s\": %lu bytes\n", WavStream::kOut, true};
inline constexpr WavText kTextFmtLength = {
    " \"fmt \"の長さ: %ld [bytes]\n",
    " \"fmt \"\x82\xCC\x92\xB7\x82\xB3: %ld [bytes]\n",
    "  chunk \"%s\": %lu bytes\n", WavStream::kErr, true};
inline constexpr WavText kTextDataLength = {
    "\n \"data\" の長さ: %ld [bytes]\n",
    "\n \"data\" \x82\xCC\x92\xB7\x82\xB3: %ld [bytes]\n",
    "  chunk \"%s\": %lu bytes\n", WavStream::kErr, true};
inline constexpr WavText kTextFormatTag = {
    "             データ形式: %u (1 = PCM)\n",
    "             \x83" "f\x81[\x83^\x8C`\x8E\xAE: %u (1 = PCM)\n",
    "    format: %u (1 = PCM)\n", WavStream::kOut, true};
inline constexpr WavText kTextChannels = {
    "           チャンネル数: %u\n",
    "           \x83`\x83\x83\x83\x93\x83l\x83\x8B\x90\x94: %u\n",
    "    channels: %u\n", WavStream::kOut, true};
inline constexpr WavText kTextSampleRate = {
    "     サンプリング周波数: %lu [Hz]\n",
    "     \x83T\x83\x93\x83v\x83\x8A\x83\x93\x83O\x8E\xFC\x94g\x90\x94: %lu [Hz]\n",
    "    sample rate: %lu Hz\n", WavStream::kOut, true};
inline constexpr WavText kTextBytesPerSec = {
    "          バイト数 / 秒: %lu [bytes/sec]\n",
    "          \x83o\x83" "C\x83g\x90\x94 / \x95" "b: %lu [bytes/sec]\n",
    "    bytes per second: %lu\n", WavStream::kOut, true};
inline constexpr WavText kTextBlockAlign = {
    " バイト数×チャンネル数: %u [bytes]\n",
    " \x83o\x83" "C\x83g\x90\x94\x81~\x83`\x83\x83\x83\x93\x83l\x83\x8B\x90\x94: %u [bytes]\n",
    "    bytes per frame: %u\n", WavStream::kOut, true};
inline constexpr WavText kTextBitsPerSample = {
    "    ビット数 / サンプル: %u [bits/sample]\n",
    "    \x83r\x83" "b\x83g\x90\x94 / \x83T\x83\x93\x83v\x83\x8B: %u [bits/sample]\n",
    "    bits per sample: %u\n", WavStream::kOut, true};
inline constexpr WavText kTextPlayTime = {
    "\n 時間=%.3f\n",
    "\n \x8E\x9E\x8A\xD4=%.3f\n",
    "  playing time: %.3f s\n", WavStream::kOut, true};
inline constexpr WavText kTextInputOpenFailed = {
    " %sをオープンできません.\n",
    " %s\x82\xF0\x83I\x81[\x83v\x83\x93\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1.\n",
    "", WavStream::kErr};
inline constexpr WavText kTextHeaderReadFailed = {
    " %ld で読み込み失敗.\n",
    " %ld \x82\xC5\x93\xC7\x82\xDD\x8D\x9E\x82\xDD\x8E\xB8\x94s.\n",
    "error: the source's 12-byte header cannot be read (it stops at byte %ld): not a WAVE file, or a pipe read already\n",
    WavStream::kErr};
inline constexpr WavText kTextNoWave = {
    "'WAVE' が無い.\n",
    "'WAVE' \x82\xAA\x96\xB3\x82\xA2.\n",
    "error: not a WAVE file (no \"WAVE\" at byte 8)\n", WavStream::kErr};
inline constexpr WavText kTextNoRiff = {
    "'RIFF' フォーマットでない.\n",
    "'RIFF' \x83t\x83H\x81[\x83}\x83" "b\x83g\x82\xC5\x82\xC8\x82\xA2.\n",
    "error: not a RIFF file (no \"RIFF\" at byte 0): an RF64 file or a damaged header\n", WavStream::kErr};
inline constexpr WavText kTextReadFailed = {
    "読み込みに失敗しました.\n",
    "\x93\xC7\x82\xDD\x8D\x9E\x82\xDD\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n",
    "error: the source holds fewer samples than its \"data\" chunk says, or reading it failed\n",
    WavStream::kErr};
inline constexpr WavText kTextNotPcm = {
    "\nこのプログラムは無圧縮PCMのみを対象とします.\n",
    "\n\x82\xB1\x82\xCC\x83v\x83\x8D\x83O\x83\x89\x83\x80\x82\xCD\x96\xB3\x88\xB3\x8FkPCM\x82\xCC\x82\xDD\x82\xF0\x91\xCE\x8F\xDB\x82\xC6\x82\xB5\x82\xDC\x82\xB7.\n",
    "", WavStream::kErr};
inline constexpr WavText kTextFormatTagIs = {
    "このwavファイルの形式は %04X です．\n",
    "\x82\xB1\x82\xCCwav\x83t\x83@\x83" "C\x83\x8B\x82\xCC\x8C`\x8E\xAE\x82\xCD %04X \x82\xC5\x82\xB7\x81" "D\n",
    "error: the format is %04X, not uncompressed PCM (1): convert it to 16-bit PCM first\n", WavStream::kErr};
inline constexpr WavText kTextNot8Or16Bits = {
    "\nこのプログラムは8/16ビットサンプリングされたものを対象とします\n",
    "\n\x82\xB1\x82\xCC\x83v\x83\x8D\x83O\x83\x89\x83\x80\x82\xCD" "8/16\x83r\x83" "b\x83g\x83T\x83\x93\x83v\x83\x8A\x83\x93\x83O\x82\xB3\x82\xEA\x82\xBD\x82\xE0\x82\xCC\x82\xF0\x91\xCE\x8F\xDB\x82\xC6\x82\xB5\x82\xDC\x82\xB7\n",
    "", WavStream::kErr};
inline constexpr WavText kTextBitsIs = {
    "このwavファイルの bits/secは %d です．\n",
    "\x82\xB1\x82\xCCwav\x83t\x83@\x83" "C\x83\x8B\x82\xCC bits/sec\x82\xCD %d \x82\xC5\x82\xB7\x81" "D\n",
    "error: the samples have %d bits, not 8 or 16: convert it to 16-bit PCM first\n", WavStream::kErr};
inline constexpr WavText kTextFmtCutShort = {
    "",
    "",
    "error: the \"fmt \" chunk is cut short by the end of the file\n", WavStream::kErr};
inline constexpr WavText kTextNoFmtChunk = {
    "'fmt ' チャンクが無い.\n",
    "'fmt ' \x83`\x83\x83\x83\x93\x83N\x82\xAA\x96\xB3\x82\xA2.\n",
    "error: the source has no \"fmt \" chunk\n", WavStream::kErr};
inline constexpr WavText kTextNoDataChunk = {
    "'data' チャンクが無い.\n",
    "'data' \x83`\x83\x83\x83\x93\x83N\x82\xAA\x96\xB3\x82\xA2.\n",
    "error: the source has no \"data\" chunk\n", WavStream::kErr};
inline constexpr WavText kTextOutputOpenFailed = {
    "%s をオープンできません.\n",
    "%s \x82\xF0\x83I\x81[\x83v\x83\x93\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1.\n",
    "", WavStream::kErr};
inline constexpr WavText kTextHeaderWriteFailed = {
    "ヘッダを書き込めません: %s\n",
    "\x83w\x83" "b\x83_\x82\xF0\x8F\x91\x82\xAB\x8D\x9E\x82\xDF\x82\xDC\x82\xB9\x82\xF1: %s\n",
    "", WavStream::kErr};
inline constexpr WavText kTextWriteFailed = {
    "書き込みにに失敗しました.\n",
    "\x8F\x91\x82\xAB\x8D\x9E\x82\xDD\x82\xC9\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n",
    "", WavStream::kErr};
inline constexpr WavText kTextDataWriteError = {
    "wavDataWriteでエラー発生.\n",
    "wavDataWrite\x82\xC5\x83G\x83\x89\x81[\x94\xAD\x90\xB6.\n",
    "", WavStream::kErr};
inline constexpr WavText kTextDelayLong = {
    "",
    "",
    "warning: a delay of %g s is 1 s or more: the right channel is heard as a late copy\n", WavStream::kErr};
inline constexpr WavText kTextDelayCoversSource = {
    "",
    "",
    "warning: the delay of %ld frames is as long as the source or longer: the right channel is the left one\n",
    WavStream::kErr};
inline constexpr WavText kTextDelayNoFrames = {
    "",
    "",
    "warning: a delay of %g s is less than one frame at %lu Hz: the right channel is the left one\n",
    WavStream::kErr};

// The failure texts, each with the Japanese of the text without a reason
// that wavwiden prints for the same failure.
constexpr WavText wavFailure(const WavText &japanese, const char *english) {
  return {japanese.readable, japanese.sjis, english, WavStream::kErr, false, true};
}
inline constexpr WavText kTextInputOpenFailure =
    wavFailure(kTextInputOpenFailed, "error: cannot open the source %s: %s\n");
inline constexpr WavText kTextHeaderReadFailure =
    wavFailure(kTextHeaderReadFailed, "error: cannot read the header of the source %s: %s\n");
inline constexpr WavText kTextReadFailure =
    wavFailure(kTextReadFailed, "error: cannot read the source %s: %s\n");
inline constexpr WavText kTextOutputOpenFailure =
    wavFailure(kTextOutputOpenFailed, "error: cannot open the output %s: %s\n");
inline constexpr WavText kTextHeaderWriteFailure =
    wavFailure(kTextHeaderWriteFailed, "error: cannot write the header of the output %s: %s\n");
inline constexpr WavText kTextWriteFailure =
    wavFailure(kTextWriteFailed, "error: cannot write the output %s: %s\n");
inline constexpr WavText kTextSyncFailure =
    wavFailure(kTextWriteFailed, "error: cannot sync the output %s to the disk: %s\n");
inline constexpr WavText kTextFolderSyncFailure =
    wavFailure(kTextWriteFailed, "error: cannot sync the folder of the output %s to the disk: %s\n");
inline constexpr WavText kTextRenameFailure =
    wavFailure(kTextOutputOpenFailed, "error: cannot rename the new file to the output %s: %s\n");

// wavwiden-en's options and operands. The usage line is the help's first.
constexpr WavText wavEnglish(const char *english, WavStream stream) {
  return {"", "", english, stream, false};
}
inline constexpr WavText kTextHelp = wavEnglish(
    "Usage: wavwiden-en [OPTION]... IN.wav OUT.wav [DELAY]\n"
    "Convert the mono WAVE file IN.wav into the stereo file OUT.wav: its left\n"
    "channel is IN.wav, its right channel IN.wav delayed by DELAY.\n"
    "\n"
    "DELAY is in seconds (0.03, .5, 1e-2, 0.03s) or milliseconds (30ms); 0.03 s\n"
    "when left out. A negative DELAY (-0.01) makes the right channel lead.\n"
    "\"-\" as IN.wav is standard input, as OUT.wav standard output (the report then\n"
    "goes to standard error). OUT.wav may be IN.wav, which is then replaced.\n"
    "\n"
    "  -h, --help     print this help and exit\n"
    "      --version  print the version and exit\n"
    "      --         end the options: what follows are file names and DELAY\n"
    "\n"
    "Exit status: 0 on success, 255 on any failure.\n"
    "The manual: wavwiden-en(1), shown by \"man wavwiden-en\".\n",
    WavStream::kOut);
inline constexpr WavText kTextVersion = wavEnglish(
    "wavwiden-en " WAVWIDEN_VERSION "\n" WAVWIDEN_COPYRIGHT "\n"
    "License: MIT. The program is provided as is, without warranty of any kind.\n",
    WavStream::kOut);
inline constexpr WavText kTextUnknownOption = wavEnglish(
    "error: unknown option \"%s\"; wavwiden-en --help lists the options\n", WavStream::kErr);
inline constexpr WavText kTextTooManyOperands = wavEnglish(
    "Usage: wavwiden-en [OPTION]... IN.wav OUT.wav [DELAY]\n"
    "error: %d operands given, but at most 3 are taken (*.wav gives one for each file); nothing was changed\n",
    WavStream::kErr);
inline constexpr WavText kTextDelayNotNumber = wavEnglish(
    "error: the delay \"%s\" is not a number of seconds (0.03, .5, -0.01, 1e-2, 0.03s) or milliseconds (30ms)\n", WavStream::kErr);
inline constexpr WavText kTextOutputTerminal = wavEnglish(
    "error: the output %s is a terminal: WAVE data is not written to one; redirect it to a file or a pipe\n", WavStream::kErr);
inline constexpr WavText kTextOutputIsSource = wavEnglish(
    "error: standard output is the source %s itself: give its name as OUT.wav to convert it in place\n", WavStream::kErr);

// The wider reading's and the kept chunks' texts: those in the place of a
// text of wavwiden's carry its Japanese and say more in English.
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

inline constexpr const WavText *kAllTexts[] = {
    &kTextUsage, &kTextNotMono, &kTextNoMemory, &kTextTooLarge, &kTextInputChanged,
    &kTextConverted, &kTextFileName, &kTextChunkLength, &kTextFmtLength, &kTextDataLength,
    &kTextFormatTag, &kTextChannels, &kTextSampleRate, &kTextBytesPerSec, &kTextBlockAlign,
    &kTextBitsPerSample, &kTextPlayTime, &kTextInputOpenFailed, &kTextHeaderReadFailed,
    &kTextNoWave, &kTextNoRiff, &kTextReadFailed, &kTextNotPcm, &kTextFormatTagIs,
    &kTextNot8Or16Bits, &kTextBitsIs, &kTextFmtCutShort, &kTextNoFmtChunk, &kTextNoDataChunk,
    &kTextOutputOpenFailed, &kTextHeaderWriteFailed, &kTextWriteFailed, &kTextDataWriteError,
    &kTextDelayLong, &kTextDelayCoversSource, &kTextDelayNoFrames,
    &kTextInputOpenFailure, &kTextHeaderReadFailure, &kTextReadFailure, &kTextOutputOpenFailure,
    &kTextHeaderWriteFailure, &kTextWriteFailure, &kTextSyncFailure, &kTextFolderSyncFailure,
    &kTextRenameFailure, &kTextHelp, &kTextVersion, &kTextUnknownOption, &kTextTooManyOperands,
    &kTextDelayNotNumber, &kTextOutputTerminal, &kTextOutputIsSource, &kTextChannelCount,
    &kTextRf64, &kTextDataEmpty, &kTextFormatRefused, &kTextBitsRefused, &kTextExtensionShort,
    &kTextSubFormatRefused, &kTextValidBitsRefused, &kTextDataCutShort, &kTextTooManyChunks,
    &kTextResultTooLarge};
