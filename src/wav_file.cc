#include "wav_file.h"

#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32

int wavFileSeek(std::FILE *file, std::int64_t position) {
  return _fseeki64(file, position, SEEK_SET) == 0 ? 0 : -1;
}

std::int64_t wavFileTell(std::FILE *file) { return _ftelli64(file); }

std::int64_t wavFileSize(std::FILE *file) {
  struct _stat64 st;
  if (_fstat64(_fileno(file), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) return -1;
  return st.st_size;
}

#else

int wavFileSeek(std::FILE *file, std::int64_t position) {
  return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0 ? 0 : -1;
}

std::int64_t wavFileTell(std::FILE *file) { return ftello(file); }

std::int64_t wavFileSize(std::FILE *file) {
  struct stat st;
  if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

#endif
