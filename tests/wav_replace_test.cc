#include "wav_replace.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "wav_text.h"

namespace {

namespace fs = std::filesystem;

void fileWrite(const fs::path &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// What the folder holds: each name with its bytes, a link as "-> target".
std::map<std::string, std::string> folderRead(const fs::path &folder) {
  std::map<std::string, std::string> found;
  for (const auto &entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename();
    if (entry.is_symlink()) {
      found[name] = "-> " + fs::read_symlink(entry.path()).string();
    } else {
      std::ifstream in(entry.path(), std::ios::binary);
      found[name] = {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
  }
  return found;
}

struct Folder {
  fs::path path;
  fs::path source;
  WavFileId id;
};

// A folder with the source and another file in it.
Folder folderMake(const char *name) {
  Folder folder;
  folder.path = fs::path(testing::TempDir()) / (name + std::to_string(getpid()));
  fs::remove_all(folder.path);
  fs::create_directory(folder.path);
  folder.source = folder.path / "in.wav";
  fileWrite(folder.source, "source");
  fileWrite(folder.path / "other.wav", "other");
  struct stat st;
  stat(folder.source.c_str(), &st);
  folder.id = wavStatId(st);
  return folder;
}

// The target's name comes to lead elsewhere between the writing and the
// commit, by a link put in its place or another file renamed over it: the
// commit fails, and every file is as it was, with nothing new left, whether
// the new file was made without a name or under a hidden one.
TEST(WavReplaceCommit, TargetNameTakenOverBeforeTheCommitLeavesEveryFileAsItWas) {
  for (const bool unnamed : {true, false}) {
    for (const bool byLink : {true, false}) {
      SCOPED_TRACE(testing::Message() << (unnamed ? "unnamed" : "hidden name") << ", "
                                      << (byLink ? "a link" : "a file renamed over it"));
      const Folder folder = folderMake("wav_replace_test_");
      WavEntry target;
      ASSERT_TRUE(wavEntryLook(folder.source.c_str(), target));
      WavReplace replace;
      replace.unnamed = unnamed;
      ASSERT_EQ(wavReplaceCreate(target, folder.id, replace), 0);
      ASSERT_FALSE(replace.overwrite);
      std::FILE *file = wavReplaceTake(replace, 6);
      ASSERT_NE(file, nullptr);
      std::fputs("result", file);
      std::fclose(file);

      const fs::path swap = folder.path / "swap";
      if (byLink)
        fs::create_symlink("other.wav", swap);
      else
        fileWrite(swap, "newer");
      fs::rename(swap, folder.source);
      testing::internal::CaptureStderr();
      EXPECT_EQ(wavReplaceCommit(replace), -1);
      EXPECT_EQ(testing::internal::GetCapturedStderr(), kTextInputChanged.sjis);
      wavReplaceDiscard(replace);
      wavEntryClose(target);
      const std::map<std::string, std::string> after = {
          {"in.wav", byLink ? "-> other.wav" : "newer"}, {"other.wav", "other"}};
      EXPECT_EQ(folderRead(folder.path), after);
      fs::remove_all(folder.path);
    }
  }
}

// A terminating signal while the new file has a hidden name removes it
// before the process ends as the signal says.
TEST(WavReplaceCreate, SignalWhileTheNewFileHasAHiddenNameRemovesIt) {
  const Folder folder = folderMake("wav_replace_signal_");
  const auto before = folderRead(folder.path);
  const pid_t child = fork();
  if (child == 0) {
    WavEntry target;
    wavEntryLook(folder.source.c_str(), target);
    WavReplace replace;
    replace.unnamed = false;
    if (wavReplaceCreate(target, folder.id, replace) == 0 && !replace.hidden.empty())
      raise(SIGTERM);
    _exit(1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(folderRead(folder.path), before);
  fs::remove_all(folder.path);
}

}  // namespace
