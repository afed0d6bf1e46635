#include "wav_file.h"

#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32

#include <io.h>
#include <windows.h>

namespace {

int handleIdGet(HANDLE handle, WavFileId &id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
      GetFileType(handle) != FILE_TYPE_DISK)
    return -1;
  id.device = info.dwVolumeSerialNumber;
  id.index = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
  id.size = static_cast<std::int64_t>(std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow);
  return 0;
}

}  // namespace

int wavFileSeek(std::FILE *file, std::int64_t position) {
  return _fseeki64(file, position, SEEK_SET) == 0 ? 0 : -1;
}

std::int64_t wavFileTell(std::FILE *file) { return _ftelli64(file); }

int wavFileIdGet(std::FILE *file, WavFileId &id) {
  return handleIdGet(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), id);
}

int wavPathIdGet(const char *path, WavFileId &id) {
  // No access asked for: only the file's information is read.
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  const int result = handleIdGet(handle, id);
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  return result;
}

std::int64_t wavFileReadAt(std::FILE *file, std::int64_t position, std::uint8_t *bytes,
                           std::size_t size) {
  if (_fseeki64(file, position, SEEK_SET) != 0) return -1;
  const std::size_t read = std::fread(bytes, 1, size, file);
  if (read < size && std::ferror(file)) return -1;
  return static_cast<std::int64_t>(read);
}

#else

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

int statIdGet(const struct stat &st, WavFileId &id) {
  if (!S_ISREG(st.st_mode)) return -1;
  id.device = static_cast<std::uint64_t>(st.st_dev);
  id.index = static_cast<std::uint64_t>(st.st_ino);
  id.size = st.st_size;
  return 0;
}

}  // namespace

int wavFileSeek(std::FILE *file, std::int64_t position) {
  return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0 ? 0 : -1;
}

std::int64_t wavFileTell(std::FILE *file) { return ftello(file); }

int wavFileIdGet(std::FILE *file, WavFileId &id) {
  struct stat st;
  if (fstat(fileno(file), &st) != 0) return -1;
  return statIdGet(st, id);
}

int wavPathIdGet(const char *path, WavFileId &id) {
  struct stat st;
  if (stat(path, &st) != 0) return -1;
  return statIdGet(st, id);
}

// The stream is only ever read here, below stdio, so its own buffer and
// position stay out of the way.
std::int64_t wavFileReadAt(std::FILE *file, std::int64_t position, std::uint8_t *bytes,
                           std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = pread(fileno(file), bytes + done, size - done,
                            static_cast<off_t>(position + static_cast<std::int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

#endif

bool wavFileIdSame(const WavFileId &a, const WavFileId &b) {
  return a.device == b.device && a.index == b.index;
}

std::FILE *wavFileReopen(const char *path, const WavFileId &id) {
  std::FILE *file = std::fopen(path, "rb");
  if (!file) return nullptr;
  WavFileId now;
  if (wavFileIdGet(file, now) != 0 || !wavFileIdSame(now, id) || now.size != id.size) {
    std::fclose(file);
    return nullptr;
  }
#if defined(POSIX_FADV_SEQUENTIAL)
  posix_fadvise(fileno(file), 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return file;
}
