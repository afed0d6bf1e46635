#include "wav_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

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

// Whether name in the folder, not followed if it is a link, holds the new
// file.
bool nameHoldsNew(const WavReplace &replace, const char *name) {
  struct stat st;
  struct stat made;
  return fstatat(replace.entry->folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         fstat(replace.file, &made) == 0 && st.st_dev == made.st_dev && st.st_ino == made.st_ino;
}

// Whether the new file has the owner and group of the target.
bool ownerKept(const WavReplace &replace) {
  struct stat target;
  struct stat made;
  return fstat(replace.target, &target) == 0 && fstat(replace.file, &made) == 0 &&
         target.st_uid == made.st_uid && target.st_gid == made.st_gid;
}

// Prints why the target could not be had as the source: its name holds
// something else now (or it was opened and found changed), or it cannot be
// opened, for the reason error.
void targetRefused(const WavReplace &replace, bool other, WavError error) {
  const char *path = replace.entry->path;
  if (other)
    wavSay(kTextInputChanged);
  else
    wavSayFailure(kTextOutputOpenFailure, path, error, path);
}

// Prints that the output could not be opened, for errno's reason.
void outputRefused(const char *path) {
  wavSayFailure(kTextOutputOpenFailure, path, wavErrnoGet(), path);
}

// The target open for writing, checked to be the source, untouched. -1 after
// printing why.
int targetWriteOpen(const WavReplace &replace) {
  bool other = false;
  const int fd = wavEntrySeenOpen(*replace.entry, O_WRONLY | O_NOCTTY | O_CLOEXEC, other);
  if (sourceIs(fd, replace.source, true)) return fd;
  targetRefused(replace, other || fd >= 0, wavErrnoGet());
  if (fd >= 0) close(fd);
  return -1;
}

// Syncs the folder, where it could be opened for reading, then the new file
// once more: a file system that has failed since the file was synced (a disk
// error that shut it down) says so there, even where the folder's sync said
// nothing. 0, or -1 after printing why.
int durable(const WavReplace &replace) {
  const char *path = replace.entry->path;
  if (replace.entry->folderRead && wavDescriptorSync(replace.entry->folder) != 0) {
    wavSayFailure(kTextFolderSyncFailure, path, wavErrnoGet());
    return -1;
  }
  if (wavDescriptorSync(replace.file) != 0) {
    wavSayFailure(kTextSyncFailure, path, wavErrnoGet());
    return -1;
  }
  return 0;
}

// After the exchange the target's name holds the new file and the hidden
// name the source, which goes once the result is durable. Where another file
// took either name meanwhile, the two names are traded back and nothing is
// removed: the new file stays under its hidden name. A failed sync leaves
// the source under the hidden name.
int tradeCheck(WavReplace &replace) {
  const int folder = replace.entry->folder;
  const std::string hidden = replace.hidden;
  const char *name = replace.entry->name.c_str();
  if (!nameHoldsSource(replace, hidden.c_str(), true) || !nameHoldsNew(replace, name)) {
    renameat2(folder, hidden.c_str(), folder, name, RENAME_EXCHANGE);
    wavHiddenDrop(replace, false);
    wavSay(kTextInputChanged);
    return -1;
  }
  wavHiddenDrop(replace, false);
  if (durable(replace) != 0) return -1;
  // An old file left under a hidden name harms nothing; the result is in place.
  if (nameHoldsSource(replace, hidden.c_str(), true)) unlinkat(folder, hidden.c_str(), 0);
  return 0;
}

// The finished result, under its hidden name, copied over the target, which
// keeps its owner, group, mode, attributes and other names. The hidden name
// goes once the copy is synced; where the target was left as it was (it
// could not be opened as the source, or its room could not be reserved), at
// once; where the copy failed once the target was touched, never: the whole
// result stays beside it.
int copyOver(WavReplace &replace) {
  struct stat st;
  const bool sized = fstat(replace.file, &st) == 0;
  const int target = sized ? targetWriteOpen(replace) : -1;
  const bool reserved = target >= 0 && wavDescriptorReserve(target, st.st_size) == 0;
  const bool copied = reserved && wavDescriptorCopyOver(replace.file, target) == 0;
  const WavError error = wavErrnoGet();
  if (target >= 0) close(target);
  if ((target >= 0 || !sized) && !copied)
    wavSayFailure(kTextWriteFailure, replace.entry->path, error);
  wavHiddenDrop(replace, copied || !reserved);
  return copied ? 0 : -1;
}

// The new file, named in the folder, trades places with the target once the
// target is seen untouched: in one step where the file system can exchange
// two names, else by a rename over the target's name once that is seen to
// hold the source; or it is copied over the target where the folder refuses
// either, or the new file could not take the target's owner and group. Runs
// with the signals held back.
int trade(WavReplace &replace) {
  if (replace.hidden.empty() && wavHiddenMake(replace) != 0) {
    outputRefused(replace.entry->path);
    return -1;
  }
  if (!sourceIs(replace.target, replace.source, true)) {
    wavHiddenDrop(replace, true);
    wavSay(kTextInputChanged);
    return -1;
  }
  if (replace.copyOver) return copyOver(replace);
  const int folder = replace.entry->folder;
  const char *hidden = replace.hidden.c_str();
  const char *name = replace.entry->name.c_str();
  if (renameat2(folder, hidden, folder, name, RENAME_EXCHANGE) == 0) return tradeCheck(replace);
  if (errno == EINVAL || errno == ENOSYS) {
    if (!nameHoldsSource(replace, name, false) || !nameHoldsNew(replace, hidden)) {
      wavHiddenDrop(replace, true);
      wavSay(kTextInputChanged);
      return -1;
    }
    if (renameat(folder, hidden, folder, name) == 0) {
      wavHiddenDrop(replace, false);
      if (nameHoldsNew(replace, name)) return durable(replace);
      wavSay(kTextInputChanged);
      return -1;
    }
  }
  const WavError error = wavErrnoGet();
  const bool refused = errno == EPERM || errno == EACCES || errno == EBUSY;
  if (!refused) {
    wavHiddenDrop(replace, true);
    wavSayFailure(kTextRenameFailure, replace.entry->path, error, replace.entry->path);
    return -1;
  }
  return copyOver(replace);
}

}  // namespace

int wavReplaceCreate(const WavEntry &target, const WavFileId &source, WavReplace &replace) {
  replace.entry = &target;
  replace.source = source;
  if (!target.looked) {
    wavSayFailure(kTextOutputOpenFailure, target.path, target.error, target.path);
    return -1;
  }
  if (target.followed) {
    replace.overwrite = true;
    return 0;
  }
  bool other = false;
  replace.target = wavEntrySeenOpen(target, O_RDONLY | O_NOCTTY | O_CLOEXEC, other);
  if (!sourceIs(replace.target, source, false)) {
    targetRefused(replace, other || replace.target >= 0, wavErrnoGet());
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
    outputRefused(target.path);
    return -1;
  }
  replace.copyOver = !ownerKept(replace);
  return 0;
}

std::FILE *wavReplaceTake(WavReplace &replace, std::int64_t size) {
  if (!replace.overwrite) {
    std::FILE *file = nullptr;
    if (faccessat(replace.entry->folder, replace.entry->name.c_str(), W_OK,
                  AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0 ||
        !(file = wavDescriptorStream(replace.file)))
      outputRefused(replace.entry->path);
    return file;
  }
  replace.file = targetWriteOpen(replace);
  if (replace.file < 0) return nullptr;
  if (wavDescriptorReserve(replace.file, size) != 0) {
    wavSayFailure(kTextWriteFailure, replace.entry->path, wavErrnoGet());
    return nullptr;
  }
  std::FILE *file = wavDescriptorStream(replace.file);
  if (!file) outputRefused(replace.entry->path);
  return file;
}

int wavReplaceCommit(WavReplace &replace) {
  if (wavDescriptorSync(replace.file) != 0) {
    wavSayFailure(kTextSyncFailure, replace.entry->path, wavErrnoGet());
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
