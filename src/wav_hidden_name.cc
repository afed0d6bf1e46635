#include "wav_hidden_name.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>

namespace {

// The hidden name a terminating signal removes, in its folder, while the new
// file has one, and which file that is; and the actions the handler stands in
// for meanwhile.
int gHiddenFolder = -1;
char gHiddenName[32];
dev_t gHiddenDevice;
ino_t gHiddenIndex;
struct sigaction gSaved[NSIG];
bool gHandled[NSIG];

// Removes name in folder where it holds the file device and index name.
void nameRemove(int folder, const char *name, dev_t device, ino_t index) {
  struct stat st;
  if (fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == device &&
      st.st_ino == index)
    unlinkat(folder, name, 0);
}

void hiddenEnd(int number) {
  if (gHiddenName[0] != '\0') nameRemove(gHiddenFolder, gHiddenName, gHiddenDevice, gHiddenIndex);
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
// ignored removes it first, where handled is set; afterwards the actions are
// as they were. Called with the signals held back.
void hiddenNote(WavReplace &replace, const std::string &name, bool handled) {
  struct stat st;
  fstat(replace.file, &st);
  replace.hidden = name;
  gHiddenFolder = replace.entry->folder;
  gHiddenDevice = st.st_dev;
  gHiddenIndex = st.st_ino;
  gHiddenName[name.copy(gHiddenName, sizeof gHiddenName - 1)] = '\0';
  if (!handled) return;
  struct sigaction action = {};
  action.sa_handler = hiddenEnd;
  sigfillset(&action.sa_mask);
  for (int signal = 1; signal < NSIG; ++signal) {
    struct sigaction old;
    if (signalEnds(signal) && sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
      gHandled[signal] = sigaction(signal, &action, &gSaved[signal]) == 0;
  }
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

}  // namespace

sigset_t wavSignalsHold() {
  sigset_t all;
  sigset_t old;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &old);
  return old;
}

void wavSignalsRelease(const sigset_t &old) { sigprocmask(SIG_SETMASK, &old, nullptr); }

int wavHiddenMake(WavReplace &replace) {
  const int folder = replace.entry->folder;
  const std::string link = "/proc/self/fd/" + std::to_string(replace.file);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = hiddenName();
    const sigset_t old = wavSignalsHold();
    if (replace.file < 0) {
      replace.file =
          openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (replace.file >= 0) hiddenNote(replace, name, true);
    } else if (linkat(AT_FDCWD, link.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
               (errno == ENOENT &&
                linkat(replace.file, "", folder, name.c_str(), AT_EMPTY_PATH) == 0)) {
      hiddenNote(replace, name, false);
    }
    const int error = errno;
    wavSignalsRelease(old);
    if (!replace.hidden.empty()) return 0;
    errno = error;
    if (error != EEXIST) return -1;
  }
  return -1;
}

void wavHiddenDrop(WavReplace &replace, bool remove) {
  const sigset_t old = wavSignalsHold();
  if (remove) nameRemove(gHiddenFolder, gHiddenName, gHiddenDevice, gHiddenIndex);
  replace.hidden.clear();
  gHiddenName[0] = '\0';
  for (int signal = 1; signal < NSIG; ++signal) {
    if (gHandled[signal]) sigaction(signal, &gSaved[signal], nullptr);
    gHandled[signal] = false;
  }
  wavSignalsRelease(old);
}
