#include "wav_file.h"

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

// Each argument from wavArgsNarrow beside the wide name it came from.
struct WideArg {
  std::string narrow;
  std::wstring wide;
};
std::vector<WideArg> gArgs;
std::vector<char *> gArgv;

std::int64_t quad(DWORD high, DWORD low) {
  return static_cast<std::int64_t>(std::uint64_t{high} << 32 | low);
}

}  // namespace

char **wavArgsNarrow(int argc, wchar_t **wide, unsigned codePage) {
  gArgs.resize(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i) {
    WideArg &arg = gArgs[static_cast<std::size_t>(i)];
    arg.wide = wide[i];
    const int size = WideCharToMultiByte(codePage, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    arg.narrow.assign(size > 1 ? static_cast<std::size_t>(size) - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(codePage, 0, wide[i], -1, arg.narrow.data(), size, nullptr, nullptr);
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

// The C runtime hands the handle out as an integer.
void *wavDescriptorHandle(int fd) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(fd));  // NOLINT(performance-no-int-to-ptr)
}

int wavFileSeek(std::FILE *file, std::int64_t position) {
  return _fseeki64(file, position, SEEK_SET) == 0 ? 0 : -1;
}

std::int64_t wavFileTell(std::FILE *file) { return _ftelli64(file); }

int wavFileIdGet(std::FILE *file, WavFileId &id) { return wavDescriptorIdGet(_fileno(file), id); }

int wavDescriptorIdGet(int fd, WavFileId &id) {
  HANDLE handle = wavDescriptorHandle(fd);
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO basic;
  if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
      GetFileType(handle) != FILE_TYPE_DISK ||
      !GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic))
    return -1;
  id.device = info.dwVolumeSerialNumber;
  id.index = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
  id.size = quad(info.nFileSizeHigh, info.nFileSizeLow);
  id.modified = quad(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
  id.changed = basic.ChangeTime.QuadPart;
  return 0;
}

void wavFileReadAhead(std::FILE *) {}

std::int64_t wavFileReadAt(std::FILE *file, std::int64_t position, std::uint8_t *bytes,
                           std::size_t size) {
  if (_fseeki64(file, position, SEEK_SET) != 0) return -1;
  const std::size_t read = std::fread(bytes, 1, size, file);
  if (read < size && std::ferror(file)) return -1;
  return static_cast<std::int64_t>(read);
}

int wavFileTruncate(std::FILE *file) { return _chsize_s(_fileno(file), 0) == 0 ? 0 : -1; }

// The access list only: owner, group and mode bits are not the platform's.
// The list's own entries are given as they are and its protection from what
// the folder hands down too; on a volume without lists there is none to give.
int wavDescriptorAttributesCopy(int from, int to) {
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(wavDescriptorHandle(from), SE_FILE_OBJECT,
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
  const DWORD result = SetSecurityInfo(wavDescriptorHandle(to), SE_FILE_OBJECT,
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
  return FlushFileBuffers(wavDescriptorHandle(fd)) ? 0 : -1;
}

std::FILE *wavDescriptorStream(int fd) {
  const int copy = _dup(fd);
  std::FILE *file = copy < 0 ? nullptr : _fdopen(copy, "wb");
  if (copy >= 0 && !file) _close(copy);
  return file;
}
