// The Windows host: message boxes owned by the window holding the mouse
// capture, the message pump, termination requests, the screen size and the
// user's regional settings.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/win32/win32_internal.h"

#include <shellapi.h>  // after windows.h

namespace qd::platform {

namespace {

std::string LocaleText(LCTYPE item, const std::string& fallback) {
  char buffer[96] = {};
  const int length = GetLocaleInfoA(LOCALE_USER_DEFAULT, item, buffer, sizeof buffer);
  if (length <= 1) return fallback;  // the count includes the terminating zero
  return std::string(buffer, static_cast<std::size_t>(length - 1));
}

char LocaleChar(LCTYPE item, char fallback) {
  const std::string text = LocaleText(item, std::string(1, fallback));
  return text.size() == 1 ? text[0] : fallback;
}

class WindowsHost final : public Host {
 public:
  WindowsHost() {
    RegionalSettings& regional = Regional();
    regional.short_date_pattern = LocaleText(LOCALE_SSHORTDATE, regional.short_date_pattern);
    regional.date_separator = LocaleChar(LOCALE_SDATE, regional.date_separator);
    regional.decimal_separator = LocaleChar(LOCALE_SDECIMAL, regional.decimal_separator);
    regional.thousands_separator = LocaleChar(LOCALE_STHOUSAND, regional.thousands_separator);
  }

  int ShowMessageBox(const std::string& text, const std::string& caption, int style) override {
    const int answer = MessageBoxA(GetCapture(), text.c_str(), caption.c_str(),
                                   static_cast<UINT>(style));
    if (answer > 0) return answer;
    // No box could be shown (no desktop, as in a service or a headless run):
    // the text still reaches whoever watches the process.
    std::fprintf(stderr, "%s\n%s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    return kIdOk;
  }

  void ProcessMessages() override {
    MSG message{};
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        // Leave the quit request for the host's own message loop.
        PostQuitMessage(static_cast<int>(message.wParam));
        return;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }

  void RequestTerminate() override { PostQuitMessage(0); }

  int ScreenWidth() override {
    const int width = GetSystemMetrics(SM_CXSCREEN);
    return width > 0 ? width : Host::ScreenWidth();
  }

  int ScreenHeight() override {
    const int height = GetSystemMetrics(SM_CYSCREEN);
    return height > 0 ? height : Host::ScreenHeight();
  }
};

}  // namespace

Host* CreateDefaultHost() { return new WindowsHost(); }

}  // namespace qd::platform

namespace qd::platform {

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

void WriteStandardError(const std::string& bytes) {
  const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - at, 1u << 20));
    DWORD written = 0;
    if (WriteFile(handle, bytes.data() + at, chunk, &written, nullptr) == 0 || written == 0) return;
    at += written;
  }
}

}  // namespace qd::platform

namespace qd::platform {

void PrepareUtf8Console() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  DWORD mode = 0;
  if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0 ||
      GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0)
    SetConsoleOutputCP(CP_UTF8);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
  }
  for (int i = 1; i < count; ++i) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string text(bytes > 0 ? static_cast<std::size_t>(bytes) : 1u, '\0');
    if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, text.data(), bytes, nullptr, nullptr);
    text.resize(std::strlen(text.c_str()));
    args.push_back(std::move(text));
  }
  LocalFree(wide);
  return args;
}

}  // namespace qd::platform
