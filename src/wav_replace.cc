#include "wav_replace.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "wav_console.h"
#include "wav_text.h"

namespace {

// The hidden name a terminating signal removes, in its folder, while the new
// file has one; and the actions the handler stands in for meanwhile.
int gHiddenFolder = -1;
char gHiddenName[32];
struct sigaction gSaved[NSIG];
bool gHandled[NSIG];

// Holds back every signal, so that nothing runs between steps that must be
// taken together; gives the mask to put back.
sigset_t signalsHold() {
  sigset_t all;
  sigset_t old;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &old);
  return old;
}

void signalsRelease(const sigset_t &old) { sigprocmask(SIG_SETMASK, &old, nullptr); }

void hiddenEnd(int number) {
  if (gHiddenName[0] != '\0') unlinkat(gHiddenFolder, gHiddenName, 0);
  std::signal(number, SIG_DFL);
  std::raise(number);
}

// Signals whose default action ends the process, less SIGKILL and SIGSTOP,
// which no handler sees.
bool signalEnds(int signal) {
  for (const int other :
       {SIGKILL, SIGSTOP, SIGCHLD, SIGCONT, SIGTSTP, SIGTTIN, SIGTTOU, SIGURG, SIGWINCH})
    if (signal == other) return false;
  return true;
}

// While the new file has a name, every terminating signal that is not
// ignored removes it first; afterwards the actions are as they were. Called
// with the signals held back.
void hiddenNote(WavReplace &replace, const std::string &name) {
  replace.hidden = name;
  gHiddenFolder = replace.folder;
  gHiddenName[name.copy(gHiddenName, sizeof gHiddenName - 1)] = '\0';
  struct sigaction action = {};
  action.sa_handler = hiddenEnd;
  sigfillset(&action.sa_mask);
  for (int signal = 1; signal < NSIG; ++signal) {
    struct sigaction old;
    if (signalEnds(signal) && sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
      gHandled[signal] = sigaction(signal, &action, &gSaved[signal]) == 0;
  }
}

// The new file keeps no name: removed where unlink is set.
void hiddenDrop(WavReplace &replace, bool unlink) {
  const sigset_t old = signalsHold();
  if (unlink) unlinkat(replace.folder, replace.hidden.c_str(), 0);
  replace.hidden.clear();
  gHiddenName[0] = '\0';
  for (int signal = 1; signal < NSIG; ++signal) {
    if (gHandled[signal]) sigaction(signal, &gSaved[signal], nullptr);
    gHandled[signal] = false;
  }
  signalsRelease(old);
}

// A short name hidden from a plain listing, random enough not to be guessed.
std::string hiddenName() {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[6];
  arc4random_buf(bytes, sizeof bytes);
  std::string name = ".wavwiden-";
  for (const unsigned char byte : bytes) name += kLetters[byte % (sizeof kLetters - 1)];
  return name;
}

// Gives the new file a hidden name in the folder, by making it there or, for
// one that has none, by linking it there. Returns 0, or -1 with errno set.
int hiddenMake(WavReplace &replace) {
  const std::string link = "/proc/self/fd/" + std::to_string(replace.file);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = hiddenName();
    const sigset_t old = signalsHold();
    if (replace.file < 0) {
      replace.file = openat(replace.folder, name.c_str(),
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (replace.file >= 0) hiddenNote(replace, name);
    } else if (linkat(AT_FDCWD, link.c_str(), replace.folder, name.c_str(), AT_SYMLINK_FOLLOW) ==
                   0 ||
               (errno == ENOENT &&
                linkat(replace.file, "", replace.folder, name.c_str(), AT_EMPTY_PATH) == 0)) {
      hiddenNote(replace, name);
    }
    const int error = errno;
    signalsRelease(old);
    if (!replace.hidden.empty()) return 0;
    errno = error;
    if (error != EEXIST) return -1;
  }
  return -1;
}

// Whether the file open as fd is the source, unchanged where that is asked.
bool sourceIs(int fd, const WavFileId &source, bool unchanged) {
  WavFileId id;
  return fd >= 0 && wavDescriptorIdGet(fd, id) == 0 &&
         (unchanged ? wavFileIdUnchanged(id, source) : wavFileIdSame(id, source));
}

// Whether name in the folder, not followed if it is a link, is the source,
// unchanged.
bool nameIsSource(const WavReplace &replace, const char *name) {
  const int fd = openat(replace.folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  const bool same = sourceIs(fd, replace.source, true);
  if (fd >= 0) close(fd);
  return same;
}

// Opens the folder of path's real path, as a path alone where it may be
// searched but not read, and the target in it, checked to be the source.
int targetFind(const char *path, WavReplace &replace) {
  char *real = realpath(path, nullptr);
  if (!real) return -1;
  const std::string found(real);
  std::free(real);
  const std::size_t slash = found.rfind('/');
  const std::string folder = slash == 0 ? "/" : found.substr(0, slash);
  replace.name = found.substr(slash + 1);
  replace.folder = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  replace.folderRead = replace.folder >= 0;
  if (!replace.folderRead) replace.folder = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (replace.folder >= 0)
    replace.target = openat(replace.folder, replace.name.c_str(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  return sourceIs(replace.target, replace.source, false) ? 0 : -1;
}

// The target open for writing, through its folder where it was found there,
// else through its path; checked to be the source, unchanged. -1 after
// printing why.
int targetWriteOpen(const WavReplace &replace) {
  const int flags = O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  const int fd = replace.target >= 0
                     ? openat(replace.folder, replace.name.c_str(), flags | O_NOFOLLOW)
                     : open(replace.path, flags);
  if (sourceIs(fd, replace.source, true)) return fd;
  if (fd < 0)
    wavErrPrint(kTextOutputOpenFailed.sjis, replace.path);
  else
    wavErrPrint("%s", kTextInputChanged.sjis);
  if (fd >= 0) close(fd);
  return -1;
}

// After the trade the source stands under the hidden name and goes. Any
// other file that took the target's name meanwhile is traded back, and the
// new file goes instead.
int tradeCheck(WavReplace &replace) {
  if (nameIsSource(replace, replace.hidden.c_str())) {
    hiddenDrop(replace, true);
    return 0;
  }
  const bool back = renameat2(replace.folder, replace.hidden.c_str(), replace.folder,
                              replace.name.c_str(), RENAME_EXCHANGE) == 0;
  hiddenDrop(replace, back);
  wavErrPrint("%s", kTextInputChanged.sjis);
  return -1;
}

// The new file, named in the folder, trades places with the target once the
// target is seen unchanged, its change time that of changed: in one step
// where the file system can exchange two names, else by a rename over the
// target's name once that is seen to lead to the source. Runs with the
// signals held back.
int trade(WavReplace &replace, const struct timespec &changed) {
  struct stat st;
  if (fstat(replace.target, &st) != 0 || !sourceIs(replace.target, replace.source, true) ||
      st.st_ctim.tv_sec != changed.tv_sec || st.st_ctim.tv_nsec != changed.tv_nsec) {
    wavErrPrint("%s", kTextInputChanged.sjis);
    return -1;
  }
  if (replace.hidden.empty() && hiddenMake(replace) != 0) {
    wavErrPrint(kTextOutputOpenFailed.sjis, replace.path);
    return -1;
  }
  const char *hidden = replace.hidden.c_str();
  const char *name = replace.name.c_str();
  if (renameat2(replace.folder, hidden, replace.folder, name, RENAME_EXCHANGE) == 0)
    return tradeCheck(replace);
  if (errno == EINVAL || errno == ENOSYS) {
    if (!nameIsSource(replace, name)) {
      hiddenDrop(replace, true);
      wavErrPrint("%s", kTextInputChanged.sjis);
      return -1;
    }
    if (renameat(replace.folder, hidden, replace.folder, name) == 0) {
      hiddenDrop(replace, false);
      return 0;
    }
  }
  const bool refused = errno == EPERM || errno == EACCES || errno == EBUSY;
  hiddenDrop(replace, true);
  if (!refused) {
    wavErrPrint(kTextOutputOpenFailed.sjis, replace.path);
    return -1;
  }
  // The folder refused the trade: the result is copied over the target.
  const int target = targetWriteOpen(replace);
  const bool copied = target >= 0 && wavDescriptorCopy(replace.file, target) == 0;
  if (target >= 0) close(target);
  if (target >= 0 && !copied) wavErrPrint("%s", kTextWriteFailed.sjis);
  return copied ? 0 : -1;
}

}  // namespace

int wavReplaceCreate(const char *path, const WavFileId &source, WavReplace &replace) {
  replace.path = path;
  replace.source = source;
  if (targetFind(path, replace) != 0) {
    replace.overwrite = true;
    return 0;
  }
  if (replace.unnamed)
    replace.file = openat(replace.folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (!replace.unnamed ||
      (replace.file < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)))
    hiddenMake(replace);
  if (replace.file < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    replace.overwrite = true;
    return 0;
  }
  if (replace.file < 0 || wavDescriptorAttributesCopy(replace.target, replace.file) != 0) {
    wavErrPrint(kTextOutputOpenFailed.sjis, path);
    return -1;
  }
  return 0;
}

std::FILE *wavReplaceTake(WavReplace &replace, std::int64_t size) {
  if (!replace.overwrite) {
    std::FILE *file = nullptr;
    if (faccessat(replace.folder, replace.name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) !=
            0 ||
        !(file = wavDescriptorStream(replace.file)))
      wavErrPrint(kTextOutputOpenFailed.sjis, replace.path);
    return file;
  }
  replace.file = targetWriteOpen(replace);
  if (replace.file < 0) return nullptr;
  if (wavDescriptorReserve(replace.file, size) != 0) {
    wavErrPrint("%s", kTextWriteFailed.sjis);
    return nullptr;
  }
  return wavDescriptorStream(replace.file);
}

int wavReplaceCommit(WavReplace &replace) {
  struct stat st;
  if (!replace.overwrite &&
      (fstat(replace.target, &st) != 0 || !sourceIs(replace.target, replace.source, true))) {
    wavErrPrint("%s", kTextInputChanged.sjis);
    return -1;
  }
  if (wavDescriptorSync(replace.file) != 0) {
    wavErrPrint("%s", kTextWriteFailed.sjis);
    return -1;
  }
  if (replace.overwrite) return 0;
  const sigset_t old = signalsHold();
  const int result = trade(replace, st.st_ctim);
  signalsRelease(old);
  // The new name is in place; a folder that cannot be synced does not undo it.
  if (result == 0 && replace.folderRead) fsync(replace.folder);
  return result;
}

void wavReplaceDiscard(WavReplace &replace) {
  if (!replace.hidden.empty()) hiddenDrop(replace, true);
  for (const int fd : {replace.file, replace.target, replace.folder})
    if (fd >= 0) close(fd);
  replace = {};
}
