// Preloaded into wine for the rows of fault_test.py that act while a run
// flushes a file: stops the process at the entry of each flush (wine's
// FlushFileBuffers is fsync), until the test has acted and continues it.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>

int fsync(int fd) {
  raise(SIGSTOP);
  return ((int (*)(int))dlsym(RTLD_NEXT, "fsync"))(fd);
}
