#include "wav_entry.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

// As many links as the system itself follows in one name.
constexpr int kLinksAtMost = 40;

// The folder and the last name of path. Where the last name is no entry of
// its own ("", ".", "..", what a trailing slash leaves), the whole path is
// the folder and the name is "." in it, so that it is still looked at once;
// false for an empty path.
bool pathSplit(const std::string &path, std::string &folder, std::string &name) {
  const std::size_t slash = path.rfind('/');
  folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") {
    folder = path;
    name = ".";
  }
  if (path.empty()) errno = ENOENT;
  return !path.empty();
}

// The folder path as it names the same folder with no "." and no repeated
// slash: "./p/d//" is "p/d", "/" stays "/", and nothing left is ".". Two
// folder paths the same once so written are opened once.
std::string folderPlain(const std::string &path) {
  std::string plain = path[0] == '/' ? "/" : "";
  for (std::size_t at = 0; at < path.size();) {
    std::size_t end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(at, end - at);
    if (!part.empty() && part != ".") plain += (plain.empty() || plain == "/" ? "" : "/") + part;
    at = end + 1;
  }
  return plain.empty() ? "." : plain;
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

// The entry path names before any link is followed: its name, and its
// folder path, plainly written. False for an empty path.
bool entryName(const char *path, WavEntry &entry, std::string &folder) {
  entry.path = path;
  if (!pathSplit(path, folder, entry.name)) return false;
  folder = folderPlain(folder);
  return true;
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
      entry.device = S_ISCHR(st.st_mode);
      entry.seen = S_ISREG(st.st_mode) ? WavSeen::kFile : WavSeen::kOther;
      entry.id = wavStatId(st);
      return true;
    }
    char target[4096];
    const ssize_t size = readlinkat(entry.folder, entry.name.c_str(), target, sizeof target);
    if (size == sizeof target) errno = ENAMETOOLONG;
    std::string folder;
    if (size <= 0 || size == sizeof target ||
        !pathSplit(std::string(target, static_cast<std::size_t>(size)), folder, entry.name) ||
        !folderOpen(entry.folder, folder, entry))
      return false;
  }
  errno = ELOOP;
  return false;
}

// looked, where it is not with the system's reason noted.
bool noted(WavEntry &entry, bool looked) {
  if (!looked) entry.error = wavErrnoGet();
  return looked;
}

// Null, with errno the reason the entry could not be looked at, or ENOENT.
std::FILE *unopened(const WavEntry &entry) {
  errno = entry.looked ? ENOENT : static_cast<int>(entry.error.code);
  return nullptr;
}

// The entry opened with flags through its folder, not following a link that
// stands there now (but for the system's own); a descriptor, or -1 with
// errno set.
int descriptorOpen(const WavEntry &entry, int flags) {
  return openat(entry.folder, entry.name.c_str(), flags | (entry.followed ? 0 : O_NOFOLLOW), 0666);
}

// Whether fd is open on the file the entry held.
bool seenIs(int fd, const WavEntry &entry) {
  struct stat st;
  return fstat(fd, &st) == 0 && wavFileIdSame(wavStatId(st), entry.id);
}

// The file the descriptor at stands for, a path alone, opened anew with
// flags: through /proc, else by the entry's name again.
int reopen(const WavEntry &entry, int at, int flags) {
  const std::string link = "/proc/self/fd/" + std::to_string(at);
  const int fd = open(link.c_str(), flags);
  return fd >= 0 || errno != ENOENT ? fd : descriptorOpen(entry, flags);
}

// A descriptor of the entry's own on its standard one, which must still be
// open on the file it was when it was looked at: where it was closed then,
// a file the program opened since may have taken its number. -1 with errno
// set.
int standardDuplicate(const WavEntry &entry) {
  const int fd = entry.looked ? fcntl(entry.stream, F_DUPFD_CLOEXEC, 0) : -1;
  if (!entry.looked) errno = static_cast<int>(entry.error.code);
  if (fd < 0 || seenIs(fd, entry)) return fd;
  close(fd);
  errno = EBADF;
  return -1;
}

std::FILE *streamOpen(int fd, const char *mode) {
  std::FILE *file = fd < 0 ? nullptr : fdopen(fd, mode);
  const int error = errno;
  if (fd >= 0 && !file) close(fd);
  errno = error;
  return file;
}

}  // namespace

// A regular file is taken first as a path alone, which opens nothing: no
// pipe waits and no device does anything for it, and a file linked there
// meanwhile, a root's one say, is not opened at all. Only the file seen is
// opened, non-blocking, so that not even a lease held on it waits.
int wavEntrySeenOpen(const WavEntry &entry, int flags, bool &other) {
  const bool file = entry.seen == WavSeen::kFile;
  const int at = file ? descriptorOpen(entry, O_PATH | O_CLOEXEC) : -1;
  other = at >= 0 && !seenIs(at, entry);
  int fd = -1;
  if (!file)
    fd = descriptorOpen(entry, flags);
  else if (at >= 0 && !other)
    fd = reopen(entry, at, flags | O_NONBLOCK);
  const int error = errno;
  if (at >= 0) close(at);
  if (fd < 0) {
    other = other || error == ENOENT || error == ELOOP;
    errno = error;
    return -1;
  }
  if (!seenIs(fd, entry)) {
    other = true;
    close(fd);
    return -1;
  }
  if (file) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool wavEntryLook(const char *path, WavEntry &entry) {
  std::string folder;
  entry.looked = noted(entry, entryName(path, entry, folder) &&
                                 folderOpen(AT_FDCWD, folder, entry) && entryFollow(entry));
  return entry.looked;
}

// A folder path the two names share is opened once, its descriptor serving
// both; other spellings of one folder are each opened once, one right after
// the other.
bool wavEntriesLook(const char *source, const char *output, WavEntry &in, WavEntry &out) {
  std::string inFolder;
  std::string outFolder;
  in.looked = noted(in, entryName(source, in, inFolder) && folderOpen(AT_FDCWD, inFolder, in));
  const bool named = entryName(output, out, outFolder);
  if (named && !inFolder.empty() && outFolder == inFolder) {
    out.folderRead = in.folderRead;
    out.folder = in.folder < 0 ? -1 : fcntl(in.folder, F_DUPFD_CLOEXEC, 0);
    out.looked = noted(out, out.folder >= 0);
  } else {
    out.looked = noted(out, named && folderOpen(AT_FDCWD, outFolder, out));
  }
  struct stat a;
  struct stat b;
  const bool same = in.looked && out.looked && in.name == out.name && fstat(in.folder, &a) == 0 &&
                    fstat(out.folder, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
  in.looked = in.looked && noted(in, entryFollow(in));
  if (!same) {
    out.looked = out.looked && noted(out, entryFollow(out));
    return false;
  }
  close(out.folder);
  out = in;
  out.path = output;
  out.folder = fcntl(in.folder, F_DUPFD_CLOEXEC, 0);
  out.looked = in.looked && noted(out, out.folder >= 0);
  return true;
}

bool wavEntryStandard(const char *path, int fd, WavEntry &entry) {
  entry.path = path;
  entry.stream = fd;
  struct stat st;
  entry.looked = noted(entry, fstat(fd, &st) == 0);
  if (entry.looked) {
    entry.seen = S_ISREG(st.st_mode) ? WavSeen::kFile : WavSeen::kOther;
    entry.device = S_ISCHR(st.st_mode);
    entry.id = wavStatId(st);
  }
  return entry.looked;
}

bool wavEntryIsDescriptor(const WavEntry &entry, int fd) {
  struct stat st;
  return (entry.stream == fd && entry.looked) ||
         (entry.looked && entry.seen != WavSeen::kNothing && fstat(fd, &st) == 0 &&
          wavFileIdSame(wavStatId(st), entry.id));
}

// A device is opened without becoming the controlling terminal and without
// waiting, as a path alone could not be asked.
bool wavEntryTerminal(const WavEntry &entry) {
  if (entry.stream >= 0) return entry.looked && isatty(entry.stream) != 0;
  if (!entry.looked || !entry.device) return false;
  bool other = false;
  const int fd = wavEntrySeenOpen(entry, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, other);
  const bool terminal = fd >= 0 && isatty(fd) != 0;
  if (fd >= 0) close(fd);
  return terminal;
}

std::FILE *wavEntryReadOpen(const WavEntry &entry, bool &other) {
  other = false;
  if (entry.stream >= 0) return streamOpen(standardDuplicate(entry), "rb");
  if (!entry.looked || entry.seen == WavSeen::kNothing) return unopened(entry);
  return streamOpen(wavEntrySeenOpen(entry, O_RDONLY | O_NOCTTY | O_CLOEXEC, other), "rb");
}

std::FILE *wavEntryWriteOpen(const WavEntry &entry) {
  if (entry.stream >= 0) return streamOpen(standardDuplicate(entry), "wb");
  if (!entry.looked) return unopened(entry);
  bool other = false;
  const int fd = entry.seen == WavSeen::kNothing
                     ? descriptorOpen(entry, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC)
                     : wavEntrySeenOpen(entry, O_WRONLY | O_NOCTTY | O_CLOEXEC, other);
  return streamOpen(fd, "wb");
}

WavError wavEntryOpenError() { return wavErrnoGet(); }

void wavEntryClose(WavEntry &entry) {
  if (entry.folder >= 0) close(entry.folder);
  entry = {};
}
