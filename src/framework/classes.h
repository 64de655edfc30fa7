// Runtime classes the components use: byte streams (with a memory stream)
// and string lists.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/sysutils.h"

namespace qd::fw {

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

// A list index outside the list ("List index out of bounds (<index>)").
class EStringListError : public Exception {
 public:
  using Exception::Exception;
};

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// A byte stream. Descendants supply Read, Write and Seek; everything else is
// built on them.
class TStream {
 public:
  virtual ~TStream() = default;
  // Move up to count bytes; answer how many were moved (0 at the end).
  virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
  virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
  // Answers the new position.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

  std::int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, soBeginning); }
  // Seeks to the end and back.
  virtual std::int64_t Size();
  virtual void SetSize(std::int64_t size);

  // Raise EStreamError "Stream read error" / "Stream write error" when fewer
  // bytes than asked could be moved.
  void ReadBuffer(void* buffer, std::int32_t count);
  void WriteBuffer(const void* buffer, std::int32_t count);
  // Copies count bytes from source (0: all of source, from its start);
  // answers the number copied.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

// A stream over a growing block of memory.
class TMemoryStream : public TStream {
 public:
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
  void SetSize(std::int64_t size) override;
  void Clear();
  const std::uint8_t* Memory() const { return data_.data(); }
  std::string AsString() const { return std::string(data_.begin(), data_.end()); }

 private:
  std::vector<std::uint8_t> data_;
  std::int64_t position_ = 0;
};

// A list of strings. Lookups by text are case-insensitive.
class TStrings {
 public:
  virtual ~TStrings() = default;
  virtual int Count() const = 0;
  virtual const std::string& Get(int index) const = 0;
  virtual void Put(int index, const std::string& text) = 0;
  virtual void Insert(int index, const std::string& text) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;

  const std::string& operator[](int index) const { return Get(index); }
  int Add(const std::string& text);
  int IndexOf(const std::string& text) const;
  void Assign(const TStrings& source);
  // All lines, each followed by a line break; setting splits at CR LF, LF
  // or CR (a last line without a break counts).
  std::string Text() const;
  void SetText(const std::string& text);
  // Suspends change notification until the matching EndUpdate.
  void BeginUpdate();
  void EndUpdate();

 protected:
  virtual void Changed() {}
  int UpdateCount() const { return update_count_; }

 private:
  int update_count_ = 0;
};

class TStringList : public TStrings {
 public:
  TStringList() = default;
  TStringList(std::initializer_list<std::string> lines) : lines_(lines) {}
  int Count() const override { return static_cast<int>(lines_.size()); }
  const std::string& Get(int index) const override;
  void Put(int index, const std::string& text) override;
  void Insert(int index, const std::string& text) override;
  void Delete(int index) override;
  void Clear() override;

  // Called after every change (outside BeginUpdate/EndUpdate).
  std::function<void(TStringList*)> OnChange;

 protected:
  void Changed() override;

 private:
  void CheckIndex(int index, int limit) const;
  std::vector<std::string> lines_;
};

}  // namespace qd::fw
