// Host program of the library tests: loads the library given as its first
// argument, calls DllMainCall as many times as its second argument says, and
// after each call prints "returned <n>" and the number of files of the
// process still open whose name starts with "movie" (any case). Finally it
// unloads the library and prints "unloaded". Message boxes go to standard
// error through the library's console host.
// With a third argument it loads, calls and unloads that many times and
// prints, after the last unload, by how many bytes the heap in use grew
// over the second half of the unloads ("heap growth <n>"; glibc only). The
// first half lets the C library's caches fill: they grow with the first
// loads of any library and then stay.
#include <dirent.h>
#include <dlfcn.h>
#include <strings.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

int OpenMovieFiles() {
  int count = 0;
  DIR* fds = opendir("/proc/self/fd");
  if (fds == nullptr) return -1;
  while (dirent* entry = readdir(fds)) {
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    char target[PATH_MAX] = {};
    const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    if (length <= 0) continue;
    const std::string path(target, static_cast<std::size_t>(length));
    const std::string name = path.substr(path.find_last_of('/') + 1);
    if (strncasecmp(name.c_str(), "movie", 5) == 0) ++count;
  }
  closedir(fds);
  return count;
}

// Bytes of heap in use, or -1 where the C library does not tell.
long long HeapInUse() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
  return static_cast<long long>(mallinfo2().uordblks);
#else
  return -1;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: library_host <library> <calls> [<loads>]\n");
    return 100;
  }
  const int calls = std::atoi(argv[2]);
  const int loads = argc > 3 ? std::atoi(argv[3]) : 1;
  long long heap_at_half = -1;
  for (int load = 1; load <= loads; ++load) {
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      std::fprintf(stderr, "cannot load: %s\n", dlerror());
      return 101;
    }
    auto entry = reinterpret_cast<void (*)()>(dlsym(library, "DllMainCall"));
    if (entry == nullptr) return 102;
    for (int i = 1; i <= calls; ++i) {
      entry();
      std::printf("returned %d, open %d\n", i, OpenMovieFiles());
      std::fflush(stdout);
    }
    dlclose(library);
    std::printf("unloaded\n");
    std::fflush(stdout);
    if (load == loads / 2) heap_at_half = HeapInUse();
  }
  if (loads > 1 && heap_at_half >= 0)
    std::printf("heap growth %lld\n", HeapInUse() - heap_at_half);
  return 0;
}
