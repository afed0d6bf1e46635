#include "wav_entry.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>

namespace {

// As many links as the system itself follows in one name.
constexpr int kLinksAtMost = 40;

// The folder and the last name of path; false where the last name is no
// entry of its own ("", ".", "..", what a trailing slash leaves).
bool pathSplit(const std::string &path, std::string &folder, std::string &name) {
  const std::size_t slash = path.rfind('/');
  folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
  return !name.empty() && name != "." && name != "..";
}

// Makes the folder path, relative to the folder at, the entry's: opened for
// reading where it may be read, else as a path alone.
bool folderOpen(int at, const std::string &path, WavEntry &entry) {
  int fd = openat(at, path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  entry.folderRead = fd >= 0;
  if (fd < 0 && errno == EACCES) fd = openat(at, path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (entry.folder >= 0) close(entry.folder);
  entry.folder = fd;
  return fd >= 0;
}

// The entry path names before any link is followed.
bool entryStart(const char *path, WavEntry &entry) {
  std::string folder;
  entry.path = path;
  return pathSplit(path, folder, entry.name) && folderOpen(AT_FDCWD, folder, entry);
}

bool inProc(int folder) {
  struct statfs fs;
  return fstatfs(folder, &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
}

// Follows the links the entry holds to the entry they lead to, and notes what
// that one holds. The system's own links under /proc can lead to what no name
// names (a pipe), so those the system follows itself.
bool entryFollow(WavEntry &entry) {
  for (int links = 0; links <= kLinksAtMost; ++links) {
    struct stat st;
    if (fstatat(entry.folder, entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      entry.seen = WavSeen::kNothing;
      return errno == ENOENT;
    }
    if (S_ISLNK(st.st_mode) && inProc(entry.folder)) {
      if (fstatat(entry.folder, entry.name.c_str(), &st, 0) != 0) return false;
      entry.followed = true;
    }
    if (!S_ISLNK(st.st_mode)) {
      entry.seen = S_ISREG(st.st_mode) ? WavSeen::kFile : WavSeen::kOther;
      entry.id = wavStatId(st);
      return true;
    }
    char target[4096];
    const ssize_t size = readlinkat(entry.folder, entry.name.c_str(), target, sizeof target);
    std::string folder;
    if (size <= 0 || size == sizeof target ||
        !pathSplit(std::string(target, static_cast<std::size_t>(size)), folder, entry.name) ||
        !folderOpen(entry.folder, folder, entry))
      return false;
  }
  return false;
}

// The file the entry held, opened with flags; -1 where it does not open, other
// set where the name leads elsewhere now, or nowhere.
int seenOpen(const WavEntry &entry, int flags, bool &other) {
  other = false;
  const int fd = wavEntryDescriptorOpen(entry, flags);
  struct stat st;
  if (fd < 0) {
    other = errno == ENOENT || errno == ELOOP;
    return -1;
  }
  if (fstat(fd, &st) == 0 && wavFileIdSame(wavStatId(st), entry.id)) return fd;
  other = true;
  close(fd);
  return -1;
}

std::FILE *streamOpen(int fd, const char *mode) {
  std::FILE *file = fd < 0 ? nullptr : fdopen(fd, mode);
  if (fd >= 0 && !file) close(fd);
  return file;
}

}  // namespace

bool wavEntryLook(const char *path, WavEntry &entry) {
  entry.looked = entryStart(path, entry) && entryFollow(entry);
  return entry.looked;
}

bool wavEntriesLook(const char *source, const char *output, WavEntry &in, WavEntry &out) {
  in.looked = entryStart(source, in);
  out.looked = entryStart(output, out);
  struct stat a;
  struct stat b;
  const bool same = in.looked && out.looked && in.name == out.name && fstat(in.folder, &a) == 0 &&
                    fstat(out.folder, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
  in.looked = in.looked && entryFollow(in);
  if (!same) {
    out.looked = out.looked && entryFollow(out);
    return false;
  }
  close(out.folder);
  out = in;
  out.path = output;
  out.folder = fcntl(in.folder, F_DUPFD_CLOEXEC, 0);
  out.looked = in.looked && out.folder >= 0;
  return true;
}

int wavEntryDescriptorOpen(const WavEntry &entry, int flags) {
  return openat(entry.folder, entry.name.c_str(), flags | (entry.followed ? 0 : O_NOFOLLOW), 0666);
}

std::FILE *wavEntryReadOpen(const WavEntry &entry, bool &other) {
  other = false;
  if (!entry.looked) return std::fopen(entry.path, "rb");
  if (entry.seen == WavSeen::kNothing) return nullptr;
  return streamOpen(seenOpen(entry, O_RDONLY | O_NOCTTY | O_CLOEXEC, other), "rb");
}

std::FILE *wavEntryWriteOpen(const WavEntry &entry) {
  if (!entry.looked) return nullptr;
  bool other = false;
  const int fd = entry.seen == WavSeen::kNothing
                     ? wavEntryDescriptorOpen(entry, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC)
                     : seenOpen(entry, O_WRONLY | O_NOCTTY | O_CLOEXEC, other);
  return streamOpen(fd, "wb");
}

void wavEntryClose(WavEntry &entry) {
  if (entry.folder >= 0) close(entry.folder);
  entry = {};
}
