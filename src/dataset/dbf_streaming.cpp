// Writing and reading a TQdDbf's stored description.
#include "dataset/dbf_streaming.h"

#include <sstream>
#include <vector>

#include "framework/classes.h"

namespace qd {

namespace {

const char* const kCreateIndexNames[] = {"ciNotFound", "ciAlways", "ciVerifyHeader", "ciNever"};
const char* const kLanguageNames[] = {"tlOem", "tlAnsi"};

std::string Quoted(const std::string& text) {
  std::string out;
  bool open = false;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32) {
      if (open) out += '\'';
      open = false;
      out += '#' + std::to_string(byte);
      continue;
    }
    if (!open) out += '\'';
    open = true;
    if (c == '\'') out += '\'';
    out += c;
  }
  if (open) out += '\'';
  return out.empty() ? "''" : out;
}

[[noreturn]] void Unreadable(const std::string& line) {
  throw fw::EStreamError("Invalid component description: " + line);
}

// A quoted text with #<code> pieces, as Quoted writes it.
std::string Unquoted(const std::string& value) {
  std::string out;
  std::size_t i = 0;
  while (i < value.size()) {
    if (value[i] == '\'') {
      ++i;
      while (true) {
        if (i >= value.size()) Unreadable(value);
        if (value[i] == '\'') {
          if (i + 1 < value.size() && value[i + 1] == '\'') {
            out += '\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        out += value[i++];
      }
    } else if (value[i] == '#') {
      std::size_t end = i + 1;
      int code = 0;
      while (end < value.size() && value[end] >= '0' && value[end] <= '9' && code < 256)
        code = code * 10 + (value[end++] - '0');
      if (end == i + 1 || code > 255) Unreadable(value);
      out += static_cast<char>(code);
      i = end;
    } else {
      Unreadable(value);
    }
  }
  return out;
}

bool BooleanValue(const std::string& value) {
  if (value == "True") return true;
  if (value == "False") return false;
  Unreadable(value);
}

int EnumValue(const std::string& value, const char* const* names, int count) {
  for (int i = 0; i < count; ++i)
    if (value == names[i]) return i;
  Unreadable(value);
}

const char* BooleanText(bool value) { return value ? "True" : "False"; }

void WriteStrings(std::ostringstream& out, const char* name, const fw::TStrings& list) {
  if (list.Count() == 0) return;
  out << "  " << name << ".Strings = (";
  for (int i = 0; i < list.Count(); ++i) out << "\n    " << Quoted(list[i]);
  out << ")\n";
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::string WriteDbfDescription(TQdDbf& dbf) {
  std::ostringstream out;
  out << "object " << dbf.Name() << ": TQdDbf\n";
  if (dbf.Active()) out << "  Active = True\n";
  WriteStrings(out, "DbfFields", dbf.DbfFields());
  if (!dbf.DbfFileName().empty()) out << "  DbfFileName = " << Quoted(dbf.DbfFileName()) << "\n";
  out << "  HideDeletedRecs = " << BooleanText(dbf.HideDeletedRecs()) << "\n";
  if (!dbf.ShowProgress()) out << "  ShowProgress = False\n";
  out << "  TableLanguage = " << kLanguageNames[static_cast<int>(dbf.TableLanguage())] << "\n";
  out << "  ReadOnly = " << BooleanText(dbf.ReadOnly()) << "\n";
  if (dbf.AutoFixRecCount()) out << "  AutoFixRecCount = True\n";
  out << "  CreateIndex = " << kCreateIndexNames[dbf.CreateIndex() & 3] << "\n";
  if (!dbf.CreateIfNotFound()) out << "  CreateIfNotFound = False\n";
  out << "  Exclusive = " << BooleanText(dbf.Exclusive()) << "\n";
  WriteStrings(out, "IndexList", dbf.IndexList());
  out << "end\n";
  return out.str();
}

void ReadDbfDescription(TQdDbf& dbf, const std::string& text) {
  std::vector<std::string> lines;
  {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
      if (!Trimmed(line).empty()) lines.push_back(Trimmed(line));
  }
  if (lines.size() < 2 || lines.front().rfind("object ", 0) != 0 ||
      lines.front().size() < 8 || lines.front().substr(lines.front().size() - 8) != ": TQdDbf" ||
      lines.back() != "end")
    Unreadable(lines.empty() ? text : lines.front());

  dbf.BeginLoading();
  struct EndLoading {
    TQdDbf& dbf;
    bool done = false;
    ~EndLoading() {
      if (!done) dbf.EndLoading();
    }
  } loading{dbf};

  dbf.SetName(Trimmed(lines.front().substr(7, lines.front().size() - 15)));
  for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::size_t equals = line.find(" = ");
    if (equals == std::string::npos) Unreadable(line);
    const std::string name = line.substr(0, equals);
    const std::string value = line.substr(equals + 3);
    if (name == "DbfFields.Strings" || name == "IndexList.Strings") {
      fw::TStrings& list = name == "DbfFields.Strings" ? dbf.DbfFields() : dbf.IndexList();
      list.Clear();
      if (value != "(") Unreadable(line);
      // Items follow one a line; the last ends with ")".
      while (true) {
        if (++i + 1 >= lines.size()) Unreadable(line);
        std::string item = lines[i];
        // A text item ends with a quote or a #<code>, so a closing
        // parenthesis at the end can only close the list.
        const bool last = item.back() == ')';
        if (last) item.pop_back();
        list.Add(Unquoted(item));
        if (last) break;
      }
    } else if (name == "Active") {
      dbf.SetActive(BooleanValue(value));
    } else if (name == "DbfFileName") {
      dbf.SetDbfFileName(Unquoted(value));
    } else if (name == "HideDeletedRecs") {
      dbf.SetHideDeletedRecs(BooleanValue(value));
    } else if (name == "ShowProgress") {
      dbf.SetShowProgress(BooleanValue(value));
    } else if (name == "TableLanguage") {
      dbf.SetTableLanguage(static_cast<TQdTableLanguage>(EnumValue(value, kLanguageNames, 2)));
    } else if (name == "ReadOnly") {
      dbf.SetReadOnly(BooleanValue(value));
    } else if (name == "AutoFixRecCount") {
      dbf.SetAutoFixRecCount(BooleanValue(value));
    } else if (name == "CreateIndex") {
      dbf.SetCreateIndex(static_cast<TCreateIndexType>(EnumValue(value, kCreateIndexNames, 4)));
    } else if (name == "CreateIfNotFound") {
      dbf.SetCreateIfNotFound(BooleanValue(value));
    } else if (name == "Exclusive") {
      dbf.SetExclusive(BooleanValue(value));
    } else {
      throw fw::EStreamError("Property " + name + " does not exist");
    }
  }
  loading.done = true;
  dbf.EndLoading();
}

}  // namespace qd
