// Character-set services on POSIX: ANSI <-> OEM conversion and ANSI case
// mapping through fixed tables, for the configured code page pair.
#include <atomic>

#include "platform/code_pages.h"
#include "platform/platform.h"

namespace qd::platform {

namespace {
// Null until SetCodePages chooses a pair: 1252/437 then. (Plain constant
// initialisation, so that start-up code of other units may convert at once.)
std::atomic<const code_pages::Conversion*> chosen_conversion{nullptr};
std::atomic<const code_pages::CaseMap*> chosen_case{nullptr};

const code_pages::Conversion& Conversion() {
  const code_pages::Conversion* chosen = chosen_conversion.load();
  return chosen != nullptr ? *chosen : *code_pages::FindConversion(1252, 437);
}

const code_pages::CaseMap& CaseMap() {
  const code_pages::CaseMap* chosen = chosen_case.load();
  return chosen != nullptr ? *chosen : *code_pages::FindCaseMap(1252);
}

void Translate(std::uint8_t* buffer, std::size_t count, const std::uint8_t* table) {
  for (std::size_t i = 0; i < count; ++i) buffer[i] = table[buffer[i]];
}
}  // namespace

void AnsiToOem(std::uint8_t* buffer, std::size_t count) {
  Translate(buffer, count, Conversion().ansi_to_oem);
}

void OemToAnsi(std::uint8_t* buffer, std::size_t count) {
  Translate(buffer, count, Conversion().oem_to_ansi);
}

void AnsiUpper(std::uint8_t* buffer, std::size_t count) {
  Translate(buffer, count, CaseMap().upper);
}

void AnsiLower(std::uint8_t* buffer, std::size_t count) {
  Translate(buffer, count, CaseMap().lower);
}

bool SetCodePages(int ansi, int oem) {
  const code_pages::Conversion* conversion = code_pages::FindConversion(ansi, oem);
  const code_pages::CaseMap* case_map = code_pages::FindCaseMap(ansi);
  if (conversion == nullptr || case_map == nullptr) return false;
  chosen_conversion = conversion;
  chosen_case = case_map;
  return true;
}

int AnsiCodePage() { return Conversion().ansi; }
int OemCodePage() { return Conversion().oem; }

}  // namespace qd::platform
