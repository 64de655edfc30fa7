// The Windows host: message boxes owned by the window holding the mouse
// capture, the message pump, termination requests, the screen size, the
// user's regional settings, and the status windows (the dataset layer's
// message and progress windows) as always-on-top popups.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
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

// ------------------------------------------------------ status windows ---

constexpr char kStatusClass[] = "QdStatusWindow";
constexpr COLORREF kStatusColour = RGB(255, 255, 0);  // yellow

LRESULT CALLBACK StatusWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(window, &paint);
    RECT client{};
    GetClientRect(window, &client);
    HBRUSH brush = CreateSolidBrush(kStatusColour);
    FillRect(dc, &client, brush);
    DeleteObject(brush);
    const auto* text = reinterpret_cast<const std::string*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (text != nullptr) {
      SetBkMode(dc, TRANSPARENT);
      SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
      DrawTextA(dc, text->c_str(), static_cast<int>(text->size()), &client,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
    EndPaint(window, &paint);
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

// One popup per status window, shown without taking the focus from the
// host's own windows.
class StatusWindows {
 public:
  void Paint(const void* key, const Host::StatusWindow& image) {
    Entry& entry = windows_[key];
    entry.text = image.text;
    const DWORD style = WS_POPUP | WS_BORDER | (image.caption.empty() ? 0 : WS_CAPTION);
    if (entry.window == nullptr) {
      if (!Registered()) return;
      entry.window = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kStatusClass,
                                     image.caption.c_str(), style, image.left, image.top, image.width,
                                     image.height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
      if (entry.window == nullptr) return;  // no desktop: nothing to show
      SetWindowLongPtrA(entry.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&entry.text));
    } else {
      SetWindowLongPtrA(entry.window, GWL_STYLE, static_cast<LONG_PTR>(style));
      SetWindowTextA(entry.window, image.caption.c_str());
    }
    SetWindowPos(entry.window, HWND_TOPMOST, image.left, image.top, image.width, image.height,
                 SWP_NOACTIVATE | SWP_SHOWWINDOW | SWP_FRAMECHANGED);
    InvalidateRect(entry.window, nullptr, TRUE);
    UpdateWindow(entry.window);
  }

  void Close(const void* key) {
    const auto found = windows_.find(key);
    if (found == windows_.end()) return;
    if (found->second.window != nullptr) DestroyWindow(found->second.window);
    windows_.erase(found);
  }

 private:
  struct Entry {
    HWND window = nullptr;
    std::string text;
  };

  bool Registered() {
    if (registered_) return true;
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = StatusWindowProc;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
    window_class.lpszClassName = kStatusClass;
    registered_ = RegisterClassA(&window_class) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    return registered_;
  }

  std::map<const void*, Entry> windows_;
  bool registered_ = false;
};

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

  void PaintStatusWindow(const void* window, const StatusWindow& image) override {
    status_windows_.Paint(window, image);
  }
  void CloseStatusWindow(const void* window) override { status_windows_.Close(window); }

  int ScreenWidth() override {
    const int width = GetSystemMetrics(SM_CXSCREEN);
    return width > 0 ? width : Host::ScreenWidth();
  }

  int ScreenHeight() override {
    const int height = GetSystemMetrics(SM_CYSCREEN);
    return height > 0 ? height : Host::ScreenHeight();
  }

  int CaptionHeight() override {
    const int height = GetSystemMetrics(SM_CYCAPTION);
    return height > 0 ? height : Host::CaptionHeight();
  }

 private:
  StatusWindows status_windows_;
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
