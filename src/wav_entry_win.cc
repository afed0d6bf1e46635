// Windows has no folder handles to open names through: each name is looked
// at by its path, and what a later open finds there is compared with what
// was seen. Two names are one file when they name one file index; the names
// themselves are not compared.
#include "wav_entry.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>

namespace {

// Why the last open failed.
WavError openError;

// Null, with the reason noted.
std::FILE *unopened(WavError error) {
  openError = error;
  return nullptr;
}

// What the name leads to now; false where its folder cannot be reached.
bool entryLook(const char *path, WavEntry &entry) {
  entry.path = path;
  // No access asked for: only the file's information is read.
  HANDLE handle = CreateFileW(wavPathWide(path).c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    entry.error = wavLastErrorGet();
    return entry.error.code == ERROR_FILE_NOT_FOUND;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY);
  if (fd < 0) {
    entry.error = wavErrnoGet();
    CloseHandle(handle);
    return false;
  }
  entry.seen = wavDescriptorIdGet(fd, entry.id) == 0 ? WavSeen::kFile : WavSeen::kOther;
  _close(fd);
  return true;
}

// Whether the open file is what the entry held: that file, where it held one;
// no file, where it held a device or a folder, so that a file put under that
// name since is refused too. What it makes where it held nothing is the
// open's own.
bool seenIs(const WavEntry &entry, std::FILE *file) {
  WavFileId id;
  if (entry.seen == WavSeen::kNothing) return true;
  if (wavFileIdGet(file, id) != 0) return entry.seen == WavSeen::kOther;
  return entry.seen == WavSeen::kFile && wavFileIdSame(id, entry.id);
}

}  // namespace

bool wavEntryLook(const char *path, WavEntry &entry) {
  entry.looked = entryLook(path, entry);
  return entry.looked;
}

bool wavEntriesLook(const char *source, const char *output, WavEntry &in, WavEntry &out) {
  wavEntryLook(source, in);
  wavEntryLook(output, out);
  return false;
}

// The descriptor is made binary for the WAVE bytes, which text mode would
// change (CR LF) and cut short (Ctrl+Z).
bool wavEntryStandard(const char *path, int fd, WavEntry &entry) {
  entry.path = path;
  entry.stream = fd;
  entry.looked = _setmode(fd, _O_BINARY) != -1;
  if (!entry.looked) entry.error = wavErrnoGet();
  if (entry.looked)
    entry.seen = wavDescriptorIdGet(fd, entry.id) == 0 ? WavSeen::kFile : WavSeen::kOther;
  return entry.looked;
}

bool wavEntryIsDescriptor(const WavEntry &entry, int fd) {
  WavFileId id;
  return (entry.stream == fd && entry.looked) || (entry.looked && entry.seen == WavSeen::kFile &&
                                wavDescriptorIdGet(fd, id) == 0 && wavFileIdSame(id, entry.id));
}

bool wavEntryTerminal(const WavEntry &entry) {
  return entry.stream >= 0 && entry.looked && _isatty(entry.stream);
}

namespace {

// A duplicate of the entry's standard descriptor as a stream; null where
// none can be had.
std::FILE *standardOpen(const WavEntry &entry, const char *mode) {
  if (!entry.looked) return unopened(entry.error);
  const int fd = _dup(entry.stream);
  std::FILE *file = fd < 0 ? nullptr : _fdopen(fd, mode);
  if (!file) openError = wavErrnoGet();
  if (fd >= 0 && !file) _close(fd);
  return file;
}

}  // namespace

std::FILE *wavEntryReadOpen(const WavEntry &entry, bool &other) {
  other = false;
  if (entry.stream >= 0) return standardOpen(entry, "rb");
  if (entry.looked && entry.seen == WavSeen::kNothing)
    return unopened({WavErrorKind::kErrno, ENOENT});
  std::FILE *file = _wfopen(wavPathWide(entry.path).c_str(), L"rb");
  if (!file) openError = wavErrnoGet();
  if (!file || !entry.looked || seenIs(entry, file)) return file;
  other = true;
  std::fclose(file);
  return nullptr;
}

// Shared for reading and writing, as the C runtime's fopen opens a file.
std::FILE *wavEntryWriteOpen(const WavEntry &entry) {
  if (entry.stream >= 0) return standardOpen(entry, "wb");
  if (!entry.looked) return unopened(entry.error);
  HANDLE handle = CreateFileW(wavPathWide(entry.path).c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              entry.seen == WavSeen::kNothing ? CREATE_NEW : OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return unopened(wavLastErrorGet());
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return unopened(wavErrnoGet());
  }
  std::FILE *file = _fdopen(fd, "wb");
  if (!file) {
    openError = wavErrnoGet();
    _close(fd);
    return nullptr;
  }
  if (seenIs(entry, file)) return file;
  std::fclose(file);
  return nullptr;
}

WavError wavEntryOpenError() { return openError; }

void wavEntryClose(WavEntry &entry) { entry = {}; }
