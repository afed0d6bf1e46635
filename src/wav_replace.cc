#include "wav_replace.h"

#include <cstdlib>
#include <utility>

#include "wav_console.h"
#include "wav_text.h"

#ifdef _WIN32

#include <windows.h>

namespace {

// The final path of the file at path, links resolved, as a plain drive path
// where it is one; empty where it cannot be had.
std::string realPath(const char *path) {
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  char real[MAX_PATH];
  const DWORD size = GetFinalPathNameByHandleA(handle, real, sizeof real, FILE_NAME_NORMALIZED);
  CloseHandle(handle);
  if (size == 0 || size >= sizeof real) return {};
  std::string found(real, size);
  if (found.rfind("\\\\?\\", 0) == 0 && found.size() > 6 && found[5] == ':') found.erase(0, 4);
  return found;
}

bool tempMove(const WavReplace &replace) {
  return MoveFileExA(replace.temp.c_str(), replace.target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace

int wavReplaceCreate(const char *path, WavReplace &replace) {
  const std::string target = realPath(path);
  const std::size_t slash = target.find_last_of('\\');
  if (slash == std::string::npos) return -1;
  char temp[MAX_PATH];
  if (GetTempFileNameA(target.substr(0, slash).c_str(), "wav", 0, temp) == 0) return -1;
  std::FILE *file = std::fopen(temp, "wb");
  if (!file) {
    DeleteFileA(temp);
    return -1;
  }
  replace = {target, temp, file};
  return 0;
}

#else

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The path of the file at path, links resolved; empty where it cannot be had.
std::string realPath(const char *path) {
  char *real = realpath(path, nullptr);
  if (!real) return {};
  std::string found(real);
  std::free(real);
  return found;
}

bool tempMove(const WavReplace &replace) {
  return std::rename(replace.temp.c_str(), replace.target.c_str()) == 0;
}

}  // namespace

int wavReplaceCreate(const char *path, WavReplace &replace) {
  const std::string target = realPath(path);
  struct stat st;
  if (target.empty() || stat(target.c_str(), &st) != 0) return -1;
  std::string temp = target + ".wavwiden-XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return -1;
  // The owner where the process may give it, else the group, else none;
  // before the permission bits, since a change of owner clears set-id bits.
  static_cast<void>(fchown(fd, st.st_uid, st.st_gid) == 0 ||
                    fchown(fd, static_cast<uid_t>(-1), st.st_gid) == 0);
  std::FILE *file = fchmod(fd, st.st_mode & 07777) == 0 ? fdopen(fd, "wb") : nullptr;
  if (!file) {
    close(fd);
    unlink(temp.c_str());
    return -1;
  }
  replace = {target, temp, file};
  return 0;
}

#endif

std::FILE *wavReplaceTake(WavReplace &replace, const char *path) {
  std::FILE *probe = std::fopen(path, "r+b");
  if (!probe) {
    wavErrPrint(kTextOutputOpenFailed.sjis, path);
    return nullptr;
  }
  std::fclose(probe);
  return std::exchange(replace.file, nullptr);
}

int wavReplaceCommit(WavReplace &replace) {
  if (!tempMove(replace)) {
    wavReplaceDiscard(replace);
    return -1;
  }
  replace = {};
  return 0;
}

void wavReplaceDiscard(WavReplace &replace) {
  if (replace.file) std::fclose(replace.file);
  if (!replace.temp.empty()) std::remove(replace.temp.c_str());
  replace = {};
}
