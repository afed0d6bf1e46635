#include "wav_file.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <new>

WavFileId wavStatId(const struct stat &st) {
  WavFileId id;
  id.device = static_cast<std::uint64_t>(st.st_dev);
  id.index = static_cast<std::uint64_t>(st.st_ino);
  id.size = st.st_size;
  id.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  id.changed = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return id;
}

int wavFileSeek(std::FILE *file, std::int64_t position) {
  return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0 ? 0 : -1;
}

std::int64_t wavFileTell(std::FILE *file) { return ftello(file); }

int wavFileIdGet(std::FILE *file, WavFileId &id) { return wavDescriptorIdGet(fileno(file), id); }

int wavDescriptorIdGet(int fd, WavFileId &id) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  id = wavStatId(st);
  return 0;
}

void wavFileReadAhead(std::FILE *file) { posix_fadvise(fileno(file), 0, 0, POSIX_FADV_SEQUENTIAL); }

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

int wavFileTruncate(std::FILE *file) { return ftruncate(fileno(file), 0) == 0 ? 0 : -1; }

namespace {

constexpr char kAccessAcl[] = "system.posix_acl_access";

// What a file system answers for what it cannot hold.
bool unsupported(int error) { return error == ENOTSUP || error == ENOSYS; }

int aclCopy(int from, int to) {
  const ssize_t size = fgetxattr(from, kAccessAcl, nullptr, 0);
  if (size < 0) {
    if (errno != ENODATA && !unsupported(errno)) return -1;
    return fremovexattr(to, kAccessAcl) == 0 || errno == ENODATA || unsupported(errno) ? 0 : -1;
  }
  std::unique_ptr<char[]> acl(new (std::nothrow) char[static_cast<std::size_t>(size) + 1]);
  if (!acl || fgetxattr(from, kAccessAcl, acl.get(), static_cast<std::size_t>(size)) != size)
    return -1;
  return fsetxattr(to, kAccessAcl, acl.get(), static_cast<std::size_t>(size), 0) == 0 ||
                 unsupported(errno)
             ? 0
             : -1;
}

}  // namespace

// The owner first, since a change of owner clears the set-id bits; the
// access list before the mode, which then sets the list's mask. A mode the
// file system refuses to set, or that the file has already, is no failure.
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
  if (fchmod(to, mode) == 0 || unsupported(errno)) return 0;
  return errno == EPERM && (now.st_mode & 07777) == mode ? 0 : -1;
}

// The file-size limit is asked first and the room is taken past the file's
// end, so that where there is none the file is as it was. A file system that
// cannot reserve room is written without.
int wavDescriptorReserve(int fd, std::int64_t size) {
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      static_cast<rlim_t>(size) > limit.rlim_cur)
    return -1;
  if (fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size) != 0 && errno != EOPNOTSUPP) return -1;
  return ftruncate(fd, size) == 0 ? 0 : -1;
}

int wavDescriptorCopyOver(int from, int to) {
  struct stat st;
  if (fstat(from, &st) != 0) return -1;
  for (off_t offset = 0; offset < st.st_size;)
    if (sendfile(to, from, &offset, static_cast<std::size_t>(st.st_size - offset)) <= 0) return -1;
  return wavDescriptorSync(to);
}

int wavDescriptorSync(int fd) { return fsync(fd) == 0 || errno == EINVAL ? 0 : -1; }

std::FILE *wavDescriptorStream(int fd) {
  const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  std::FILE *file = copy < 0 ? nullptr : fdopen(copy, "wb");
  if (copy >= 0 && !file) close(copy);
  return file;
}
