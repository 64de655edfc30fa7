// The engine's error model: recording an error, delivering it (exception or
// stop box and halt), the message table shared by operating-system, runtime
// and engine codes, and the engine's allocation pair.
#include "foundation/errors.h"

#include <cstdlib>

#include "platform/platform.h"

namespace qd {

namespace {

struct MessageEntry {
  std::uint16_t code;
  const char* text;
};

// Operating-system error numbers, the runtime's input/output and runtime
// errors, and the engine's own codes. Texts are shown to users verbatim.
constexpr MessageEntry kMessages[] = {
    {1, "Invalid DOS function code"},
    {2, "File not found"},
    {3, "Path not found"},
    {4, "Too many open files"},
    {5, "File access denied"},
    {6, "Invalid file handle"},
    {8, "Not enough memory"},
    {9, "Memory block address invalid"},
    {10, "Environment invalid"},
    {11, "Format invalid"},
    {12, "Invalid file access code"},
    {13, "Data invalid"},
    {14, "Unknown unit"},
    {15, "Invalid drive number"},
    {16, "Cannot remove current directory"},
    {17, "Cannot rename across drives"},
    {18, "Too many open files"},
    {19, "Disk write-protected"},
    {20, "Unknown unit"},
    {21, "Drive not ready"},
    {22, "Unknown command"},
    {23, "CRC error in data"},
    {24, "Bad drive request structure length"},
    {25, "Disk seek error"},
    {26, "Unknown media type"},
    {27, "Disk sector not found"},
    {28, "Printer out of paper"},
    {29, "Device write fault"},
    {30, "Device read fault"},
    {31, "General failure"},
    {32, "File sharing violation"},
    {33, "File lock violation"},
    {34, "Disk change invalid"},
    {35, "File Control Block unavailable"},
    {36, "File sharing buffer overflow"},
    {50, "Unsupported network request"},
    {51, "Remote machine not listening"},
    {52, "Duplicate name on network"},
    {53, "Network name not found"},
    {54, "Network busy"},
    {55, "Device no longer exists on network"},
    {56, "Net-Bios command limit exceeded"},
    {57, "Error in network adapter hardware"},
    {58, "Incorrect response from network"},
    {59, "Unexpected network error"},
    {60, "Remote adapter incompatible"},
    {100, "Disk read error"},
    {101, "Disk write error (probable cause: Disk Full)."},
    {102, "File not assigned"},
    {103, "File not open"},
    {104, "File not open for input"},
    {105, "File not open for output"},
    {106, "Invalid numeric format"},
    {150, "Disk write-protected"},
    {151, "Unknown unit"},
    {152, "Drive not ready"},
    {153, "Unknown command"},
    {154, "CRC error in data"},
    {155, "Bad drive request structure length"},
    {156, "Disk seek error"},
    {157, "Unknown media type"},
    {158, "Disk sector not found"},
    {159, "Printer out of paper"},
    {160, "Device write fault"},
    {161, "Device read fault"},
    {162, "File sharing violation"},
    {200, "Division by zero error"},
    {201, "Range check error"},
    {202, "Stack overflow error"},
    {203, "Heap overflow error"},
    {204, "Invalid pointer operation"},
    {205, "Floating point overflow"},
    {206, "Floating point underflow"},
    {207, "Invalid floating point operation"},
    {208, "Overlay-manager not installed"},
    {209, "Overlay file read error"},
    {210, "Not a dBASE data file"},
    {211, "Invalid database field type encountered"},
    {212, "Request beyond range"},
    {213, "End of file found unexpectedly"},
    {214, "File already in use"},
    {215, "No database in use"},
    {216, "GP Fault"},
    {217, "Insufficient memory"},
    {218, "Invalid pointer specified"},
    {219, "Cannot duplicate file handle"},
    {220, "Invalid parameter"},
    {221, "Index file not open"},
    {222, "Corrupted index file"},
    {223, "Index version mismatch"},
    {224, "Cyclical relationship detected"},
    {225, "Exclusive Use() required"},
    {226, "BROWSE not active"},
    {227, "Insufficient disk space "},
    {228, "Unbalanced Push/Pop operation "},
    {229, "dBASE IV memo files not supported"},
    {230, "No dBASE memory variables loaded"},
    {231, "Screen library not open"},
    {239, "Missing colon in time"},
    {240, "Non-numeric character in time"},
    {241, "Invalid time specified"},
    {242, "Negative time specified"},
    {243, "TimeDiff result negative"},
    {254, "Quindle internal error"},
    {266, "Invalid size"},
    {1003, "Invalid memo address"},
    {1004, "Disk full"},
    {1005, "Memo file write error"},
    {1007, "Memo file is already open"},
    {1012, "Insufficient disk space to pack memo file"},
    {1017, "Cannot lock memo file"},
    {1018, "Cannot unlock memo file"},
    {1019, "Invalid memo operation: database not open or no memo field in database"},
    {1100, "Not a valid operation on Linked List"},
    {1101, "Virtual File Manager Unit not Linked in"},
    {1102, "Virtual File Memory Management Error"},
    {1103, "Invalid Operation "},
    {1200, "Record not locked"},
    {1201, "File not locked"},
    {1202,
     "Semaphore file error. Possible solutions: log into network or load SHARE.EXE before "
     "running Windows"},
    {1300, "File format not supported"},
};

const char* MessageText(std::uint16_t code) {
  for (const MessageEntry& entry : kMessages) {
    if (entry.code == code) return entry.text;
  }
  if (code >= 1203 && code <= 1299) return "Network Error";
  return "Undefined error";
}

// Longest text a stop box shows.
constexpr std::size_t kMaxBoxText = 255;

}  // namespace

void SetError(std::uint16_t code, const std::string& text) {
  ErrorCode = code;
  PendingErrorCode = code;
  ErrorText = text;
  if (ImmediateDispatch) DispatchError();
}

void DispatchError() {
  // An error raised while the process is being halted is not reported again.
  if (Halted) return;
  PendingErrorCode = ErrorCode;
  if (ErrorCode == 0) return;

  std::string text = ErrorMessage(ErrorCode);
  text += "\r\n";
  text += TakeErrorText();

  if (RaiseExceptions) throw EQuindleError(text);

  if (text.size() > kMaxBoxText) text.resize(kMaxBoxText);
  platform::Host& host = platform::CurrentHost();
  host.ShowMessageBox(text, "Program halted.", platform::kMbIconStop);
  Halted = true;
  host.Halt(ErrorCode);
}

std::string ErrorMessage(std::uint16_t code) {
  if (code == 0) return std::string();
  std::string message = "Error # ";
  message += std::to_string(code);
  message += " (";
  message += MessageText(code);
  message += ")";
  return message;
}

std::string TakeErrorText() {
  std::string text;
  text.swap(ErrorText);
  PendingErrorCode = 0;
  return text;
}

std::string PendingErrorMessage() {
  if (PendingErrorCode == 0) return std::string();
  std::string message = ErrorMessage(PendingErrorCode);
  message += "\r\n";
  message += TakeErrorText();
  return message;
}

void RaiseError(std::uint16_t code, const std::string& text) {
  SetError(code, text);
  if (!ImmediateDispatch) throw EQuindleError(PendingErrorMessage());
}

bool SetRaiseExceptions(bool value) {
  const bool previous = RaiseExceptions;
  RaiseExceptions = value;
  return previous;
}

bool SetImmediateDispatch(bool value) {
  const bool previous = ImmediateDispatch;
  ImmediateDispatch = value;
  return previous;
}

void GetMem(void*& pointer, std::uint16_t size) {
  // A zero-byte request still yields a distinct, freeable block.
  pointer = std::malloc(size == 0 ? 1 : size);
  if (pointer == nullptr) SetError(217, "Out of memory [GetMem()]");
}

void FreeMem(void*& pointer, std::uint16_t /*size*/) {
  void* block = pointer;
  // The pointer is nil afterwards even when the report below raises.
  pointer = nullptr;
  if (block == nullptr) {
    SetError(9, "Attempt to free NIL pointer [FreeMem()]");
  } else {
    std::free(block);
  }
}

void InitErrorUnit() {
  ErrorCode = 0;
  PendingErrorCode = 0;
  ErrorText.clear();
  ImmediateDispatch = true;
  RaiseExceptions = false;
  Halted = false;
}

}  // namespace qd
