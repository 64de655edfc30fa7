// Small byte and text helpers shared by the table units: little-endian
// fields, ASCII case and blank trimming on the engine's byte strings, and
// the error codes that file writes report.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qd::table_text {

inline std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void Put16BE(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
inline void Put32BE(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * (3 - i)));
}

inline char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
inline std::string Upper(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = UpperAscii(c);
  return r;
}
inline std::string TrimBlanks(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return std::string(s.substr(b, e - b));
}
inline std::string TrimRight(std::string_view s) {
  std::size_t e = s.size();
  while (e > 0 && s[e - 1] == ' ') --e;
  return std::string(s.substr(0, e));
}

// Position just after the last directory separator or drive colon.
inline std::size_t NameStart(std::string_view path) {
  std::size_t p = path.find_last_of("\\/:");
  return p == std::string_view::npos ? 0 : p + 1;
}
// The file name's extension dot, or npos when the last component has none.
inline std::size_t ExtensionDot(std::string_view path) {
  std::size_t dot = path.find_last_of('.');
  if (dot == std::string_view::npos || dot < NameStart(path)) return std::string_view::npos;
  return dot;
}
inline std::string WithDefaultExtension(std::string_view path, std::string_view ext) {
  if (ExtensionDot(path) != std::string_view::npos) return std::string(path);
  return std::string(path) + "." + std::string(ext);
}
inline std::string WithoutExtension(std::string_view path) {
  std::size_t dot = ExtensionDot(path);
  return std::string(dot == std::string_view::npos ? path : path.substr(0, dot));
}

// Disk-full results of a write are reported as the engine's write error 101;
// a short write without a system code is 101 too.
inline std::uint16_t WriteErrorCode(std::uint32_t os_code) {
  if (os_code == 0 || os_code == 39 || os_code == 112) return 101;
  return static_cast<std::uint16_t>(os_code);
}

}  // namespace qd::table_text
