// The process-wide number separators used for text exchanged with users.
// Numbers inside DBF fields always use '.'; these only change user text.
// The date unit sets them at start-up from the user's language.
#pragma once

namespace qd {

inline char DecimalChar = '.';
inline char ThousandsChar = ',';

}  // namespace qd
