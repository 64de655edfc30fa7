// The engine's error model: one process-wide error code and detail text,
// one dispatcher that raises EQuindleError or shows the stop box and halts,
// the message table, and the engine's allocation pair.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/exception.h"

namespace qd {

// Process-wide error state (unguarded: the engine runs on one thread).
inline std::uint16_t ErrorCode = 0;
inline std::uint16_t PendingErrorCode = 0;
inline std::string ErrorText;
inline bool ImmediateDispatch = true;
inline bool RaiseExceptions = false;
inline bool Halted = false;

// Records code and detail text; dispatches at once when ImmediateDispatch.
void SetError(std::uint16_t code, const std::string& text);
// Delivers the pending error: raises EQuindleError or shows the stop box
// "Program halted." and halts the process with ErrorCode as exit status.
void DispatchError();
// "Error # <code> (<text>)", empty for 0.
std::string ErrorMessage(std::uint16_t code);
std::string TakeErrorText();
std::string PendingErrorMessage();
// SetError, then raise at once when dispatch is deferred.
void RaiseError(std::uint16_t code, const std::string& text);
bool SetRaiseExceptions(bool value);
bool SetImmediateDispatch(bool value);

// Engine allocations: 16-bit sizes, nil pointer on FreeMem is error 9.
void GetMem(void*& pointer, std::uint16_t size);
void FreeMem(void*& pointer, std::uint16_t size);

// Restores the start-up state (used by the unit start-up and by tests).
void InitErrorUnit();

}  // namespace qd
