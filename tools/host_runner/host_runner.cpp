// A minimal host program: loads the main_dll library at run time, finds the
// exported DllMainCall by its plain name and calls it, as a Windows host
// would with LoadLibraryA and GetProcAddress.
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  const std::string library = argc > 1 ? argv[1] : "main_dll.dll";
  HMODULE module = LoadLibraryA(library.c_str());
  if (module == nullptr) {
    std::fprintf(stderr, "Cannot load %s (error %lu)\n", library.c_str(), GetLastError());
    return 2;
  }
  auto entry = reinterpret_cast<void (*)()>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllMainCall")));
#else
  const std::string library = argc > 1 ? argv[1] : "./libmain_dll.so";
  void* module = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    std::fprintf(stderr, "Cannot load %s: %s\n", library.c_str(), dlerror());
    return 2;
  }
  auto entry = reinterpret_cast<void (*)()>(dlsym(module, "DllMainCall"));
#endif
  if (entry == nullptr) {
    std::fprintf(stderr, "%s does not export DllMainCall\n", library.c_str());
    return 3;
  }
  entry();
#ifdef _WIN32
  FreeLibrary(module);
#else
  dlclose(module);
#endif
  return 0;
}
