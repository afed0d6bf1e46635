#include "wav_file.h"

#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32

#include <aclapi.h>

#include <string>
#include <vector>
#include <fcntl.h>
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
  id.modified = static_cast<std::int64_t>(std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32 |
                                          info.ftLastWriteTime.dwLowDateTime);
  return 0;
}

}  // namespace

namespace {

// Each argument from wavArgsNarrow beside the wide name it came from.
struct WideArg {
  std::string narrow;
  std::wstring wide;
};
std::vector<WideArg> gArgs;
std::vector<char *> gArgv;

}  // namespace

char **wavArgsNarrow(int argc, wchar_t **wide) {
  gArgs.resize(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i) {
    WideArg &arg = gArgs[static_cast<std::size_t>(i)];
    arg.wide = wide[i];
    const int size = WideCharToMultiByte(CP_ACP, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    arg.narrow.assign(size > 1 ? static_cast<std::size_t>(size) - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_ACP, 0, wide[i], -1, arg.narrow.data(), size, nullptr, nullptr);
  }
  for (WideArg &arg : gArgs) gArgv.push_back(arg.narrow.data());
  gArgv.push_back(nullptr);
  return gArgv.data();
}

std::wstring wavPathWide(const char *path) {
  for (const WideArg &arg : gArgs)
    if (arg.narrow.data() == path) return arg.wide;
  const int size = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  std::wstring wide(size > 1 ? static_cast<std::size_t>(size) - 1 : 0, L'\0');
  if (size > 1) MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), size);
  return wide;
}

std::FILE *wavFileOpen(const char *path) { return _wfopen(wavPathWide(path).c_str(), L"rb"); }

int wavFileSeek(std::FILE *file, std::int64_t position) {
  return _fseeki64(file, position, SEEK_SET) == 0 ? 0 : -1;
}

std::int64_t wavFileTell(std::FILE *file) { return _ftelli64(file); }

int wavFileIdGet(std::FILE *file, WavFileId &id) { return wavDescriptorIdGet(_fileno(file), id); }

int wavDescriptorIdGet(int fd, WavFileId &id) {
  return handleIdGet(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), id);
}

int wavPathIdGet(const char *path, WavFileId &id) {
  // No access asked for: only the file's information is read.
  HANDLE handle = CreateFileW(wavPathWide(path).c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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

// Shared for reading and writing, as the C runtime's fopen opens a file.
std::FILE *wavFileCreate(const char *path) {
  HANDLE handle = CreateFileW(wavPathWide(path).c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE *file = _fdopen(fd, "wb");
  if (!file) _close(fd);
  return file;
}

int wavFileTruncate(std::FILE *file) { return _chsize_s(_fileno(file), 0) == 0 ? 0 : -1; }

// The access list only: owner, group and mode bits are not the platform's.
// The list's own entries are given as they are and its protection from what
// the folder hands down too; on a volume without lists there is none to give.
int wavDescriptorAttributesCopy(int from, int to) {
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(reinterpret_cast<HANDLE>(_get_osfhandle(from)), SE_FILE_OBJECT,
                      DACL_SECURITY_INFORMATION, nullptr, nullptr, &list, nullptr,
                      &descriptor) != ERROR_SUCCESS)
    return 0;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  const SECURITY_INFORMATION which =
      DACL_SECURITY_INFORMATION |
      ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                     : UNPROTECTED_DACL_SECURITY_INFORMATION);
  const DWORD result = SetSecurityInfo(reinterpret_cast<HANDLE>(_get_osfhandle(to)), SE_FILE_OBJECT,
                                       which, nullptr, nullptr, list, nullptr);
  LocalFree(descriptor);
  return result == ERROR_SUCCESS ? 0 : -1;
}

int wavDescriptorReserve(int fd, std::int64_t size) { return _chsize_s(fd, size) == 0 ? 0 : -1; }

int wavDescriptorCopy(int from, int to) {
  static char bytes[1 << 16];
  const std::int64_t size = _filelengthi64(from);
  if (size < 0 || wavDescriptorReserve(to, size) != 0 || _lseeki64(from, 0, SEEK_SET) != 0 ||
      _lseeki64(to, 0, SEEK_SET) != 0)
    return -1;
  for (int read; (read = _read(from, bytes, sizeof bytes)) != 0;)
    if (read < 0 || _write(to, bytes, static_cast<unsigned>(read)) != read) return -1;
  return wavDescriptorSync(to);
}

int wavDescriptorSync(int fd) {
  return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) ? 0 : -1;
}

std::FILE *wavDescriptorStream(int fd) {
  const int copy = _dup(fd);
  std::FILE *file = copy < 0 ? nullptr : _fdopen(copy, "wb");
  if (copy >= 0 && !file) _close(copy);
  return file;
}

#else

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <new>

namespace {

int statIdGet(const struct stat &st, WavFileId &id) {
  if (!S_ISREG(st.st_mode)) return -1;
  id.device = static_cast<std::uint64_t>(st.st_dev);
  id.index = static_cast<std::uint64_t>(st.st_ino);
  id.size = st.st_size;
  id.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return 0;
}

}  // namespace

std::FILE *wavFileOpen(const char *path) { return std::fopen(path, "rb"); }

int wavFileSeek(std::FILE *file, std::int64_t position) {
  return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0 ? 0 : -1;
}

std::int64_t wavFileTell(std::FILE *file) { return ftello(file); }

int wavFileIdGet(std::FILE *file, WavFileId &id) { return wavDescriptorIdGet(fileno(file), id); }

int wavDescriptorIdGet(int fd, WavFileId &id) {
  struct stat st;
  if (fstat(fd, &st) != 0) return -1;
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

std::FILE *wavFileCreate(const char *path) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE *file = fdopen(fd, "wb");
  if (!file) close(fd);
  return file;
}

int wavFileTruncate(std::FILE *file) { return ftruncate(fileno(file), 0) == 0 ? 0 : -1; }

namespace {

constexpr char kAccessAcl[] = "system.posix_acl_access";

int aclCopy(int from, int to) {
  const ssize_t size = fgetxattr(from, kAccessAcl, nullptr, 0);
  if (size < 0) {
    if (errno != ENODATA && errno != ENOTSUP) return -1;
    return fremovexattr(to, kAccessAcl) == 0 || errno == ENODATA || errno == ENOTSUP ? 0 : -1;
  }
  std::unique_ptr<char[]> acl(new (std::nothrow) char[static_cast<std::size_t>(size) + 1]);
  if (!acl || fgetxattr(from, kAccessAcl, acl.get(), static_cast<std::size_t>(size)) != size)
    return -1;
  return fsetxattr(to, kAccessAcl, acl.get(), static_cast<std::size_t>(size), 0);
}

}  // namespace

// The owner first, since a change of owner clears the set-id bits; the
// access list before the mode, which then sets the list's mask.
int wavDescriptorAttributesCopy(int from, int to) {
  struct stat st;
  struct stat now;
  if (fstat(from, &st) != 0) return -1;
  static_cast<void>(fchown(to, st.st_uid, st.st_gid) == 0 ||
                    fchown(to, static_cast<uid_t>(-1), st.st_gid) == 0);
  if (aclCopy(from, to) != 0 || fstat(to, &now) != 0) return -1;
  mode_t mode = st.st_mode & 07777;
  if (now.st_uid != st.st_uid || now.st_gid != st.st_gid)
    mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
  return fchmod(to, mode);
}

int wavDescriptorReserve(int fd, std::int64_t size) {
  return posix_fallocate(fd, 0, size) == 0 && ftruncate(fd, size) == 0 ? 0 : -1;
}

int wavDescriptorCopy(int from, int to) {
  struct stat st;
  if (fstat(from, &st) != 0 || wavDescriptorReserve(to, st.st_size) != 0) return -1;
  for (off_t offset = 0; offset < st.st_size;)
    if (sendfile(to, from, &offset, static_cast<std::size_t>(st.st_size - offset)) <= 0) return -1;
  return fsync(to);
}

int wavDescriptorSync(int fd) { return fsync(fd); }

std::FILE *wavDescriptorStream(int fd) {
  const int copy = dup(fd);
  std::FILE *file = copy < 0 ? nullptr : fdopen(copy, "wb");
  if (copy >= 0 && !file) close(copy);
  return file;
}

#endif

bool wavFileIdSame(const WavFileId &a, const WavFileId &b) {
  return a.device == b.device && a.index == b.index;
}

bool wavFileIdUnchanged(const WavFileId &a, const WavFileId &b) {
  return wavFileIdSame(a, b) && a.size == b.size && a.modified == b.modified;
}

std::FILE *wavFileReopen(const char *path, const WavFileId &id) {
  std::FILE *file = wavFileOpen(path);
  if (!file) return nullptr;
  WavFileId now;
  if (wavFileIdGet(file, now) != 0 || !wavFileIdUnchanged(now, id)) {
    std::fclose(file);
    return nullptr;
  }
#if defined(POSIX_FADV_SEQUENTIAL)
  posix_fadvise(fileno(file), 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return file;
}
