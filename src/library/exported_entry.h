// The guard around the library's exported functions. A host calls them
// through a plain C interface, across which a C++ exception cannot travel:
// it would end the host's process without a word. Every failure therefore
// ends inside the library, the way an engine error does with the start-up
// settings: the stop box "Program halted." with the error's code and text,
// then the halt with that code.
#pragma once

namespace qd::library {

// Runs `body`; lets nothing escape. An engine error raised as an exception
// keeps its code and text; a failure the engine did not report itself is
// code 254 (217 when memory ran out) with its description and the entry's
// name in square brackets, for example "vector::_M_range_check [DllMainCall]".
void RunExported(const char* entry, void (*body)()) noexcept;

}  // namespace qd::library
