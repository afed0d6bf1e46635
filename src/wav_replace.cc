#include "wav_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "wav_console.h"
#include "wav_hidden_name.h"
#include "wav_text.h"

namespace {

// Whether the file open as fd is the source; where untouched is asked, also
// of the size, modification time and change time it had when it was first
// read, so that a rewrite whose times were put back is seen too.
bool sourceIs(int fd, const WavFileId &source, bool untouched) {
  WavFileId id;
  return fd >= 0 && wavDescriptorIdGet(fd, id) == 0 &&
         (untouched ? wavFileIdUnchanged(id, source) && id.changed == source.changed
                    : wavFileIdSame(id, source));
}

// Whether name in the folder, not followed if it is a link, holds the
// source, of the size and modification time it had, and its change time too
// where it has not been renamed since (a rename moves it).
bool nameHoldsSource(const WavReplace &replace, const char *name, bool renamed) {
  struct stat st;
  if (fstatat(replace.entry->folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
    return false;
  const WavFileId id = wavStatId(st);
  return wavFileIdUnchanged(id, replace.source) && (renamed || id.changed == replace.source.changed);
}

// Prints why the target could not be had as the source: it cannot be opened,
// or its name holds something else now.
void targetRefused(const WavReplace &replace, bool opened, int error) {
  if (!opened && error != ENOENT && error != ELOOP)
    wavSay(kTextOutputOpenFailed, replace.entry->path);
  else
    wavSay(kTextInputChanged);
}

// The target open for writing, checked to be the source, untouched. -1 after
// printing why.
int targetWriteOpen(const WavReplace &replace) {
  const int fd =
      wavEntryDescriptorOpen(*replace.entry, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  const int error = errno;
  if (sourceIs(fd, replace.source, true)) return fd;
  targetRefused(replace, fd >= 0, error);
  if (fd >= 0) close(fd);
  return -1;
}

// Syncs the folder, where it could be opened for reading; 0, or -1 after
// printing why.
int folderSync(const WavReplace &replace) {
  if (!replace.entry->folderRead || wavDescriptorSync(replace.entry->folder) == 0) return 0;
  wavSay(kTextWriteFailed);
  return -1;
}

// After the exchange the source stands under the hidden name and goes, and
// the folder is synced. Where another file took the target's name meanwhile,
// the two names are traded back and nothing is removed: the new file stays
// under its hidden name.
int tradeCheck(WavReplace &replace) {
  const int folder = replace.entry->folder;
  const char *hidden = replace.hidden.c_str();
  if (!nameHoldsSource(replace, hidden, true)) {
    renameat2(folder, hidden, folder, replace.entry->name.c_str(), RENAME_EXCHANGE);
    wavHiddenDrop(replace, false);
    wavSay(kTextInputChanged);
    return -1;
  }
  // An old file left under a hidden name harms nothing; the result is in place.
  unlinkat(folder, hidden, 0);
  wavHiddenDrop(replace, false);
  return folderSync(replace);
}

// The new file, named in the folder, trades places with the target once the
// target is seen untouched: in one step where the file system can exchange
// two names, else by a rename over the target's name once that is seen to
// hold the source. Runs with the signals held back.
int trade(WavReplace &replace) {
  if (replace.hidden.empty() && wavHiddenMake(replace) != 0) {
    wavSay(kTextOutputOpenFailed, replace.entry->path);
    return -1;
  }
  if (!sourceIs(replace.target, replace.source, true)) {
    wavHiddenDrop(replace, true);
    wavSay(kTextInputChanged);
    return -1;
  }
  const int folder = replace.entry->folder;
  const char *hidden = replace.hidden.c_str();
  const char *name = replace.entry->name.c_str();
  if (renameat2(folder, hidden, folder, name, RENAME_EXCHANGE) == 0) return tradeCheck(replace);
  if (errno == EINVAL || errno == ENOSYS) {
    if (!nameHoldsSource(replace, name, false)) {
      wavHiddenDrop(replace, true);
      wavSay(kTextInputChanged);
      return -1;
    }
    if (renameat(folder, hidden, folder, name) == 0) {
      wavHiddenDrop(replace, false);
      return folderSync(replace);
    }
  }
  const bool refused = errno == EPERM || errno == EACCES || errno == EBUSY;
  wavHiddenDrop(replace, true);
  if (!refused) {
    wavSay(kTextOutputOpenFailed, replace.entry->path);
    return -1;
  }
  // The folder refused the trade: the result is copied over the target.
  const int target = targetWriteOpen(replace);
  const bool copied = target >= 0 && wavDescriptorCopy(replace.file, target) == 0;
  if (target >= 0) close(target);
  if (target >= 0 && !copied) wavSay(kTextWriteFailed);
  return copied ? 0 : -1;
}

}  // namespace

int wavReplaceCreate(const WavEntry &target, const WavFileId &source, WavReplace &replace) {
  replace.entry = &target;
  replace.source = source;
  if (!target.looked) {
    wavSay(kTextOutputOpenFailed, target.path);
    return -1;
  }
  if (target.followed) {
    replace.overwrite = true;
    return 0;
  }
  replace.target =
      wavEntryDescriptorOpen(target, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (!sourceIs(replace.target, source, false)) {
    targetRefused(replace, replace.target >= 0, errno);
    return -1;
  }
  if (replace.unnamed)
    replace.file = openat(target.folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (!replace.unnamed ||
      (replace.file < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)))
    wavHiddenMake(replace);
  if (replace.file < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    replace.overwrite = true;
    return 0;
  }
  if (replace.file < 0 || wavDescriptorAttributesCopy(replace.target, replace.file) != 0) {
    wavSay(kTextOutputOpenFailed, target.path);
    return -1;
  }
  return 0;
}

std::FILE *wavReplaceTake(WavReplace &replace, std::int64_t size) {
  if (!replace.overwrite) {
    std::FILE *file = nullptr;
    if (faccessat(replace.entry->folder, replace.entry->name.c_str(), W_OK,
                  AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0 ||
        !(file = wavDescriptorStream(replace.file)))
      wavSay(kTextOutputOpenFailed, replace.entry->path);
    return file;
  }
  replace.file = targetWriteOpen(replace);
  if (replace.file < 0) return nullptr;
  if (wavDescriptorReserve(replace.file, size) != 0) {
    wavSay(kTextWriteFailed);
    return nullptr;
  }
  std::FILE *file = wavDescriptorStream(replace.file);
  if (!file) wavSay(kTextOutputOpenFailed, replace.entry->path);
  return file;
}

int wavReplaceCommit(WavReplace &replace) {
  if (wavDescriptorSync(replace.file) != 0) {
    wavSay(kTextWriteFailed);
    return -1;
  }
  if (replace.overwrite) return 0;
  const sigset_t old = wavSignalsHold();
  const int result = trade(replace);
  wavSignalsRelease(old);
  return result;
}

void wavReplaceDiscard(WavReplace &replace) {
  if (!replace.hidden.empty()) wavHiddenDrop(replace, true);
  for (const int fd : {replace.file, replace.target})
    if (fd >= 0) close(fd);
  replace = {};
}
