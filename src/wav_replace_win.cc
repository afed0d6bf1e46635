// Converting a file into itself on Windows, which has no folder handles to
// work through and no exchange of two names: the new file is made under a
// hidden name in the target's folder, removed on every way out, also by a
// console control handler; once whole it is flushed, and moved over the
// target's final path, with write-through, once the target is seen to be the
// source still. Where the move is refused, the result is copied over the
// target, and keeps its hidden name until the copy is flushed.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "wav_console.h"
#include "wav_replace.h"
#include "wav_text.h"

namespace {

// The new file's path while the console control handler is to remove it,
// and whether the handler has run; the lock keeps both in step with the
// copy over the target, which the handler must not cut off from the result.
wchar_t gTemp[32768];
bool gEnded = false;
SRWLOCK gLock = SRWLOCK_INIT;

// Ctrl+C, Ctrl+Break, a closed console: the new file goes, then the default
// handler ends the process.
BOOL WINAPI consoleEnd(DWORD) {
  AcquireSRWLockExclusive(&gLock);
  if (gTemp[0] != L'\0') DeleteFileW(gTemp);
  gTemp[0] = L'\0';
  gEnded = true;
  ReleaseSRWLockExclusive(&gLock);
  return FALSE;
}

// Gives the handler the path to remove, or none; false once it has run and
// the process is ending.
bool handlerTemp(const std::wstring &path) {
  AcquireSRWLockExclusive(&gLock);
  gTemp[path.copy(gTemp, 32767)] = L'\0';
  const bool running = !gEnded;
  ReleaseSRWLockExclusive(&gLock);
  return running;
}

// The file at path opened with access, shared as the C runtime shares and for
// deletion too, as a C runtime descriptor; -1 where it does not open.
int descriptorOpen(const std::wstring &path, DWORD access, DWORD disposition) {
  HANDLE handle = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return -1;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  if (fd < 0) CloseHandle(handle);
  return fd;
}

// Whether the file open as fd is the source, unchanged.
bool sourceIs(int fd, const WavFileId &source) {
  WavFileId id;
  return fd >= 0 && wavDescriptorIdGet(fd, id) == 0 && wavFileIdUnchanged(id, source);
}

// A short name in the target's folder for the new file.
std::wstring hiddenName() {
  static const wchar_t kLetters[] = L"abcdefghijklmnopqrstuvwxyz0123456789";
  static unsigned long long seed = GetTickCount64() ^ std::uint64_t{GetCurrentProcessId()} << 20;
  std::wstring name = L".wavwiden-";
  seed = seed * 6364136223846793005ull + 1442695040888963407ull;
  for (int i = 0; i < 6; ++i) name += kLetters[(seed >> (33 + 5 * i)) % 36];
  return name;
}

// The target open for writing, checked to be the source, unchanged; -1 after
// printing why.
int targetWriteOpen(const WavReplace &replace) {
  const std::wstring path =
      replace.targetPath.empty() ? wavPathWide(replace.entry->path) : replace.targetPath;
  const int fd = descriptorOpen(path, GENERIC_WRITE, OPEN_EXISTING);
  const WavError error = wavLastErrorGet();
  if (sourceIs(fd, replace.source)) return fd;
  if (fd < 0)
    wavSayFailure(kTextOutputOpenFailure, replace.entry->path, error, replace.entry->path);
  else
    wavSay(kTextInputChanged);
  if (fd >= 0) _close(fd);
  return -1;
}

// The target may not be replaced, only written: the result is copied over
// it. From the room's reservation until the copy is flushed, the new file
// keeps its name beside the target, out of the handler's reach, so that a
// copy cut short leaves the whole result there; where the target cannot be
// had or the room reserved, it is left as it was and the new file goes.
int resultCopy(WavReplace &replace) {
  const int target = targetWriteOpen(replace);
  if (target < 0) return -1;
  const std::int64_t size = _filelengthi64(replace.file);
  const bool reserved =
      handlerTemp({}) && size >= 0 && wavDescriptorReserve(target, size) == 0;
  const bool copied = reserved && wavDescriptorCopy(replace.file, target) == 0;
  const WavError error = wavErrnoGet();
  _close(target);
  if (!copied) {
    wavSayFailure(kTextWriteFailure, replace.entry->path, error);
    if (reserved) replace.temp.clear();
    return -1;
  }
  _close(replace.file);
  replace.file = -1;
  DeleteFileW(replace.temp.c_str());
  replace.temp.clear();
  return 0;
}

}  // namespace

int wavReplaceCreate(const WavEntry &entry, const WavFileId &source, WavReplace &replace) {
  const char *path = entry.path;
  replace.entry = &entry;
  replace.source = source;
  replace.target = descriptorOpen(wavPathWide(path), READ_CONTROL | FILE_READ_ATTRIBUTES, OPEN_EXISTING);
  WavFileId id;
  static wchar_t found[32768];
  const DWORD size = replace.target < 0 ? 0
                     : GetFinalPathNameByHandleW(wavDescriptorHandle(replace.target), found, 32768, FILE_NAME_NORMALIZED);
  const std::wstring real(found, size < 32768 ? size : 0);
  const std::size_t slash = real.rfind(L'\\');
  if (wavDescriptorIdGet(replace.target, id) != 0 || !wavFileIdSame(id, source) || slash == std::wstring::npos) {
    replace.overwrite = true;
    return 0;
  }
  replace.targetPath = real;
  SetConsoleCtrlHandler(consoleEnd, TRUE);
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 100 && error == ERROR_FILE_EXISTS; ++attempt) {
    replace.temp = real.substr(0, slash + 1) + hiddenName();
    replace.file = descriptorOpen(replace.temp, GENERIC_READ | GENERIC_WRITE | WRITE_DAC, CREATE_NEW);
    error = replace.file < 0 ? GetLastError() : ERROR_SUCCESS;
  }
  // Only a name that holds the new file is the handler's to remove.
  if (replace.file >= 0) handlerTemp(replace.temp);
  if (replace.file < 0) {
    replace.temp.clear();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT) {
      replace.overwrite = true;
      return 0;
    }
  }
  if (replace.file < 0 || wavDescriptorAttributesCopy(replace.target, replace.file) != 0) {
    const WavError failed =
        replace.file < 0 ? WavError{WavErrorKind::kWin32, error} : wavLastErrorGet();
    wavSayFailure(kTextOutputOpenFailure, path, failed, path);
    return -1;
  }
  return 0;
}

std::FILE *wavReplaceTake(WavReplace &replace, std::int64_t size) {
  if (replace.overwrite) {
    replace.file = targetWriteOpen(replace);
    if (replace.file < 0) return nullptr;
    if (wavDescriptorReserve(replace.file, size) != 0) {
      wavSayFailure(kTextWriteFailure, replace.entry->path, wavErrnoGet());
      return nullptr;
    }
  } else {
    const int probe = descriptorOpen(replace.targetPath, GENERIC_WRITE, OPEN_EXISTING);
    const WavError error = wavLastErrorGet();
    if (probe >= 0) _close(probe);
    if (probe < 0) {
      wavSayFailure(kTextOutputOpenFailure, replace.entry->path, error, replace.entry->path);
      return nullptr;
    }
  }
  std::FILE *file = wavDescriptorStream(replace.file);
  if (!file)
    wavSayFailure(kTextOutputOpenFailure, replace.entry->path, wavErrnoGet(), replace.entry->path);
  return file;
}

// Nothing of the program's holds the target open while the new file moves
// over it: the writer has closed the source, and the handle here goes first.
int wavReplaceCommit(WavReplace &replace) {
  if (wavDescriptorSync(replace.file) != 0) {
    wavSayFailure(kTextSyncFailure, replace.entry->path, wavLastErrorGet());
    return -1;
  }
  if (replace.overwrite) return 0;
  _close(replace.target);
  replace.target = descriptorOpen(replace.targetPath, FILE_READ_ATTRIBUTES, OPEN_EXISTING);
  const bool same = sourceIs(replace.target, replace.source);
  if (replace.target >= 0) _close(replace.target);
  replace.target = -1;
  if (!same) {
    wavSay(kTextInputChanged);
    return -1;
  }
  if (MoveFileExW(replace.temp.c_str(), replace.targetPath.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    replace.temp.clear();
    handlerTemp({});
    return 0;
  }
  const DWORD error = GetLastError();
  if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) {
    wavSayFailure(kTextRenameFailure, replace.entry->path, WavError{WavErrorKind::kWin32, error},
                  replace.entry->path);
    return -1;
  }
  return resultCopy(replace);
}

void wavReplaceDiscard(WavReplace &replace) {
  for (const int fd : {replace.file, replace.target})
    if (fd >= 0) _close(fd);
  if (!replace.temp.empty()) DeleteFileW(replace.temp.c_str());
  handlerTemp({});
  SetConsoleCtrlHandler(consoleEnd, FALSE);
  replace = {};
}
