// The platform seam: every operating-system service the engine uses (files,
// byte-range locks, clock, character sets, host user interface) is reached
// through this header and nothing else. One implementation per platform lives
// beside it (posix/, win32/); the rest of the engine never includes a system
// header of its own.
//
// All functions that can fail return an operating-system result code in the
// Windows numbering (0 success, 2 file not found, 3 path not found,
// 4 too many open files, 5 access denied, 6 invalid handle, 32 sharing
// violation, 33 lock violation, 39/112 disk full -> reported as 101 by callers,
// 158 unlock of a range not held, ...), so that the engine's one message table
// serves every platform.
#pragma once
// Names avoid most Windows API macros (CreateFile, MessageBox, ...); the
// Windows layer undefines the few that remain (AnsiToOem, AnsiUpper, ...)
// before including this header.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qd::platform {

// ---------------------------------------------------------------- files ----

// An open file. Plain value; kNoFile means "not open".
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// Open-mode byte as the engine passes it: the low two bits are the access
// (0 read, 1 write, 2 read/write), bits 4 to 6 the sharing
// (0x00 compatibility, 0x10 deny all = exclusive, 0x20 deny write,
// 0x30 deny read, 0x40 deny none). Examples: 0x42 shared read/write,
// 0x12 exclusive read/write, 0x00 read-only, 0x40 read-only deny none.
inline constexpr std::uint8_t kAccessMask = 0x03;
inline constexpr std::uint8_t kAccessRead = 0x00;
inline constexpr std::uint8_t kAccessWrite = 0x01;
inline constexpr std::uint8_t kAccessReadWrite = 0x02;
inline constexpr std::uint8_t kShareMask = 0x70;
inline constexpr std::uint8_t kShareCompat = 0x00;
inline constexpr std::uint8_t kShareDenyAll = 0x10;
inline constexpr std::uint8_t kShareDenyWrite = 0x20;
inline constexpr std::uint8_t kShareDenyRead = 0x30;
inline constexpr std::uint8_t kShareDenyNone = 0x40;

// Opens an existing file. Paths accept '/' and '\' as separators; on
// case-sensitive file systems each component is matched case-insensitively
// (an exact match first). Share modes conflict across handles and processes
// as on Windows (code 32).
std::uint32_t OpenFile(const std::string& path, std::uint8_t mode, FileHandle& out);
// Creates (or truncates) a file and opens it with the given mode. A new file
// is created under the name as given (after resolving existing directories).
std::uint32_t CreateNewFile(const std::string& path, std::uint8_t mode, FileHandle& out);
std::uint32_t CloseFile(FileHandle file);

// Positioned I/O. `done` receives the number of bytes moved; a short read at
// end of file is not an error (code 0, done < count).
std::uint32_t ReadAt(FileHandle file, std::uint64_t offset, void* buffer, std::size_t count,
                     std::size_t& done);
std::uint32_t WriteAt(FileHandle file, std::uint64_t offset, const void* buffer,
                      std::size_t count, std::size_t& done);
std::uint32_t FileSize(FileHandle file, std::uint64_t& size);
std::uint32_t Truncate(FileHandle file, std::uint64_t size);
std::uint32_t FlushFile(FileHandle file);
// Reserves disk space for `count` bytes from `offset` without changing the
// file's size, so that later writes there cannot fail for lack of space.
// 112 when the disk is full; 50 when the file system cannot reserve space
// (callers then write without a reservation).
std::uint32_t ReserveSpace(FileHandle file, std::uint64_t offset, std::uint64_t count);

// Exclusive byte-range locks with Windows LockFile/UnlockFile semantics:
// owned by the handle, conflicting with every other handle of this or another
// process (33), independent of other handles of the same file being closed,
// allowed beyond the end of the file. Unlocking a range that this handle does
// not hold exactly gives 158.
std::uint32_t LockRange(FileHandle file, std::uint64_t offset, std::uint64_t length);
std::uint32_t UnlockRange(FileHandle file, std::uint64_t offset, std::uint64_t length);

// Whole-file services.
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
std::uint32_t EraseFile(const std::string& path);
std::uint32_t RenameFile(const std::string& from, const std::string& to);
// The path as the file system knows it (case resolved, separators native),
// or the path as given when nothing matches.
std::string ResolvePath(const std::string& path);
// Absolute form of a path (current directory prepended when relative).
std::string FullPathName(const std::string& path);
// Each component in its short (8.3) form where the file system has one;
// otherwise the path itself.
std::string ShortPathName(const std::string& path);

struct DirEntry {
  std::string name;          // file name only, as stored
  std::uint64_t size = 0;
  bool is_directory = false;
  int year = 0, month = 0, day = 0;  // local date of last write
};
// Entries of the pattern's directory whose names match its last component
// ('*' and '?' wildcards, case-insensitive; "*.*" matches every name; '.'
// and '..' are never listed). Code 0 and an empty list when nothing
// matches; 3 when the directory does not exist.
std::uint32_t FindFiles(const std::string& pattern, std::vector<DirEntry>& out);
// Last-write date of a file (local time).
std::uint32_t FileDate(const std::string& path, int& year, int& month, int& day);

// The system's temporary directory, with a trailing separator.
std::uint32_t TempDirectory(std::string& out);
// Creates an empty, uniquely named file in `directory` whose name starts
// with `prefix` (at most three characters used) and returns its path.
std::uint32_t UniqueTempFile(const std::string& directory, const std::string& prefix,
                             std::string& out);
// Free space available to the caller on the volume holding `path`.
std::uint32_t DiskFreeBytes(const std::string& path, std::uint64_t& bytes);

// The code of the most recent failed call of this layer on this thread,
// for callers that report "GetLastError" values.
std::uint32_t LastError();

// ---------------------------------------------------------------- clock ----

std::uint32_t TickCount();  // milliseconds since an arbitrary start, wraps
void SleepMs(std::uint32_t milliseconds);
void LocalDate(int& year, int& month, int& day);
// The user's default language identifier (Windows LANGID: primary language
// in the low 10 bits, sub-language above). On POSIX derived from the locale
// the process runs under (LC_ALL, LC_TIME, LANG); 0x0409 when unknown.
std::uint16_t UserDefaultLangID();

// -------------------------------------------------------- character sets ---

// In-place conversion of byte buffers between the Windows (ANSI) code page
// and the OEM code page. Characters missing from the target page get a
// best-fit replacement, as Windows does.
void AnsiToOem(std::uint8_t* buffer, std::size_t count);
void OemToAnsi(std::uint8_t* buffer, std::size_t count);
// Case mapping of the ANSI code page, in place.
void AnsiUpper(std::uint8_t* buffer, std::size_t count);
void AnsiLower(std::uint8_t* buffer, std::size_t count);
// Chooses the ANSI/OEM pair (1252/437 at start; 1252/850 and 1251/866 are
// also known). False when the pair is not available on this platform.
bool SetCodePages(int ansi, int oem);
int AnsiCodePage();
int OemCodePage();

// ------------------------------------------------------- standard streams ---

// Whether standard error is an interactive terminal (a console on Windows),
// so that drawings meant for people (progress bars) can be left out of
// redirected output.
bool StandardErrorIsTerminal();
// Writes bytes to standard error at once (unbuffered).
void WriteStandardError(const std::string& bytes);
// For console programs that print UTF-8: standard output and error pass
// bytes unchanged (no CR added before LF), and a Windows console shows UTF-8.
void PrepareUtf8Console();
// The program's arguments (without the program name) in UTF-8: on Windows
// read from the wide command line, elsewhere argv as given.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// ------------------------------------------------------------------ host ---

// Message-box styles and answers, Windows values.
inline constexpr int kMbOk = 0x00;
inline constexpr int kMbIconStop = 0x10;
inline constexpr int kMbIconWarning = 0x30;
inline constexpr int kMbIconInformation = 0x40;
inline constexpr int kIdOk = 1;

// The host's regional settings, read by the date and dataset units and
// written by SetDateFormat.
struct RegionalSettings {
  std::string short_date_pattern = "M/d/yyyy";
  char date_separator = '/';
  char decimal_separator = '.';
  char thousands_separator = ',';
};

// The host the library runs in: its user interface and its process. The
// default console host writes message boxes to standard error and returns at
// once; tests install a recording host; the Windows host uses MessageBoxA.
class Host {
 public:
  virtual ~Host() = default;
  // Shows a modal message box and returns the answer (kIdOk).
  virtual int ShowMessageBox(const std::string& text, const std::string& caption, int style) = 0;
  // Processes pending window messages and returns.
  virtual void ProcessMessages() {}
  // Asks the host application to terminate when it next can.
  virtual void RequestTerminate() {}
  // Ends the process with the given exit code. Never returns.
  [[noreturn]] virtual void Halt(int exit_code);
  // Screen size in pixels (GetSystemMetrics on Windows).
  virtual int ScreenWidth() { return 1024; }
  virtual int ScreenHeight() { return 768; }
  // Height of a dialog's caption bar in pixels (GetSystemMetrics on Windows).
  virtual int CaptionHeight() { return 19; }
  // Size in pixels of a text in the named font and point size.
  virtual void MeasureText(const std::string& text, const std::string& font, int points,
                           int& width, int& height);
  // A small always-on-top window of one line of text (the dataset layer's
  // message and progress windows). `window` identifies it from its first
  // paint to its close; `percent` is the progress shown, 0 to 100, or -1 for
  // a plain text. The default host shows nothing.
  struct StatusWindow {
    std::string caption, text;
    int percent = -1;
    int left = 0, top = 0, width = 0, height = 0;
  };
  virtual void PaintStatusWindow(const void* /*window*/, const StatusWindow& /*image*/) {}
  virtual void CloseStatusWindow(const void* /*window*/) {}
  RegionalSettings& Regional() { return regional_; }

 private:
  RegionalSettings regional_;
};

// The current host; never null. SetHost(nullptr) restores the default host.
Host& CurrentHost();
void SetHost(Host* host);

}  // namespace qd::platform
