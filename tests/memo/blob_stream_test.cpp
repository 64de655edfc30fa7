// Memo values as streams: the blob descriptor of every variant (with and
// without record hooks, the dBASE III text end, seeking, the OEM decision,
// the header brought up to date after a write) and the file dataset's
// memo field streams (text access, writing, clearing, seeking to the end).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#ifndef _WIN32
#include <sys/mount.h>
#include <sys/wait.h>
#endif

#include "dataset/file_dataset.h"
#include "foundation/exception.h"
#include "memo/blob_streams.h"
#include "memo_checker.h"
#include "memo_test_support.h"
#include "support/recording_host.h"

namespace qd::memo_test {
namespace {

class BlobStreamTest : public MemoTest {
 protected:
  // Writes `value` as a stream in pieces of `piece` bytes; answers the block.
  static std::int32_t StreamWrite(const std::string& value, std::size_t piece, bool oem = false) {
    const std::int32_t block = CreateBlobDescriptor(oem, 0, kBlobWrite);
    EXPECT_NE(block, 0) << ErrorText;
    for (std::size_t at = 0; at < value.size(); at += piece) {
      const auto n = static_cast<std::int32_t>(std::min(piece, value.size() - at));
      EXPECT_EQ(WriteBlobStream(value.data() + at, n), n);
    }
    EXPECT_TRUE(DestroyBlobDescriptor()) << ErrorText;
    return block;
  }
  static std::string StreamRead(std::int32_t block, std::size_t piece, bool oem = false) {
    CreateBlobDescriptor(oem, block, kBlobRead);
    std::string value;
    std::string chunk(piece, '\0');
    for (;;) {
      const std::int32_t n = ReadBlobStream(chunk.data(), static_cast<std::int32_t>(piece));
      if (n <= 0) break;
      value.append(chunk.data(), static_cast<std::size_t>(n));
    }
    DestroyBlobDescriptor();
    return value;
  }
  // The header's next free block, as a program that places values by it
  // reads it.
  static std::uint64_t HeaderNextFree(const Bytes& memo, std::uint8_t version) {
    return version == 0xF5 ? Be32(memo, 0) : Le32(memo, 0);
  }
};

TEST_F(BlobStreamTest, StreamedValuesReadBackInEveryVariantWithAndWithoutHooks) {
  auto flip = [](std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) bytes[i] ^= 0x5A;
  };
  std::string value;
  for (int i = 0; value.size() < 1900; ++i) value += "line " + std::to_string(i) + "\r\n";
  value += std::string("\0\x1A tail", 7);
  for (const Variant v : {Variant{0x83, 512, false}, Variant{0x8B, 512, false},
                          Variant{0x8B, 64, false}, Variant{0xF5, 64, false}}) {
    for (const bool hooks : {false, true}) {
      const std::string name = "s" + std::to_string(v.version) + "_" + std::to_string(v.block_size) +
                               (hooks ? "h" : "");
      SCOPED_TRACE(name);
      MakeMemoTable(name, v.version, v.block_size);
      if (hooks)
        UseWithHooks(Path(name) + " EXCLUSIVE", nullptr, 0, flip, flip);
      else
        Open(name);
      AppendValue("before");
      const std::int32_t block = StreamWrite(value, 700);
      // dBASE III files name a streamed value by its negated block.
      EXPECT_EQ(block < 0, v.version == 0x83);
      EXPECT_EQ(StreamRead(block, 333), value);
      // The whole-value reader and the stream agree on every layout.
      std::string whole;
      EXPECT_TRUE(ReadMemoValue(block, whole, "test"));
      EXPECT_EQ(whole, value);
      std::int32_t other = 0;
      ASSERT_TRUE(WriteMemoValue(0, "after it", other, "test"));
      EXPECT_EQ(StreamRead(other, 4096), "after it");
      EXPECT_EQ(ValueOf(1), "before");
      // The header names the end of the file: a program that places its
      // values by it writes after the streamed value.
      const Bytes memo = MemoBytes(name, v.version);
      EXPECT_EQ(memo.size() % (v.version == 0x83 ? 512 : v.block_size), 0u);
      if (v.version != 0x8B) {
        EXPECT_EQ(HeaderNextFree(memo, v.version) * State().block_size, memo.size());
      }
      Close();
      if (!hooks) {
        MemoFileChecker checker(FileBytes(Path(name + ".DBF")), MemoBytes(name, v.version), v);
        checker.CheckHeader();
        EXPECT_TRUE(checker.Failures().empty()) << checker.Failures().front();
      }
    }
  }
}

TEST_F(BlobStreamTest, SeekingBackAndOverwritingGoesThroughTheHookUnits) {
  auto flip = [](std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) bytes[i] ^= 0x33;
  };
  for (std::uint8_t version : {0x83, 0x8B}) {
    const std::string name = "o" + std::to_string(version);
    SCOPED_TRACE(name);
    MakeMemoTable(name, version);
    UseWithHooks(Path(name) + " EXCLUSIVE", nullptr, 0, flip, flip);
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
    AppendValue("plain text read through the hook");
    const std::int32_t block = CreateBlobDescriptor(false, 0, kBlobWrite);
    std::string expected(1000, 'a');
    ASSERT_EQ(WriteBlobStream(expected.data(), 1000), 1000);
    EXPECT_EQ(SeekBlobStream(100, 0), 100);
    const std::string patch(600, 'b');
    ASSERT_EQ(WriteBlobStream(patch.data(), 600), 600);
    expected.replace(100, 600, patch);
    // The length is the furthest byte written, wherever the position is.
    EXPECT_EQ(SeekBlobStream(0, 2), 1000);
    ASSERT_TRUE(DestroyBlobDescriptor());
    EXPECT_EQ(StreamRead(block, 77), expected);
    std::string whole;
    ASSERT_TRUE(ReadMemoValue(block, whole, "test"));
    EXPECT_EQ(whole, expected);
    // A text value's end is found through the hook as well.
    Go(1);
    ASSERT_EQ(CreateBlobDescriptor(false, Slot(), kBlobRead), Slot());
    EXPECT_EQ(SeekBlobStream(-4, 2), 28);
    char tail[8] = {};
    EXPECT_EQ(ReadBlobStream(tail, 8), 4);
    EXPECT_EQ(std::string(tail, 4), "hook");
    DestroyBlobDescriptor();
    Close();
  }
}

TEST_F(BlobStreamTest, TheHeaderIsUpdatedBeforeTheLockIsReleased) {
  MakeMemoTable("hdr", 0x83);
  Open("hdr", false);
  const std::int32_t block = CreateBlobDescriptor(false, 0, kBlobWrite);
  ASSERT_EQ(block, -1);
  EXPECT_TRUE(State().lock_held);
  const std::string value(1500, 'x');
  ASSERT_EQ(WriteBlobStream(value.data(), 1500), 1500);
  ASSERT_TRUE(DestroyBlobDescriptor());
  EXPECT_FALSE(State().lock_held);
  const Bytes memo = MemoBytes("hdr", 0x83);
  // 8 header bytes and 1500 value bytes from block 1: blocks 1 to 3.
  EXPECT_EQ(Le32(memo, 0), 4u);
  EXPECT_EQ(memo.size(), 4u * 512);
  EXPECT_EQ(Le32(memo, 512 + 4), 1508u);
}

TEST_F(BlobStreamTest, DbaseThreeTextEndsAtItsMarkerAndSeekingToTheEndFindsIt) {
  MakeMemoTable("text", 0x83);
  Open("text");
  const std::int32_t block = AppendValue("hello world");
  ASSERT_EQ(block, 1);
  ASSERT_EQ(CreateBlobDescriptor(false, block, kBlobRead), 1);
  EXPECT_EQ(SeekBlobStream(0, 2), 11);
  EXPECT_EQ(SeekBlobStream(-5, 2), 6);
  char buffer[64] = {};
  EXPECT_EQ(ReadBlobStream(buffer, 64), 5);
  EXPECT_EQ(std::string(buffer, 5), "world");
  EXPECT_EQ(ReadBlobStream(buffer, 64), 0);
  EXPECT_EQ(SeekBlobStream(-100, 1), 0);
  EXPECT_EQ(ReadBlobStream(buffer, 64), 11);
  EXPECT_EQ(ReadBlobStream(buffer, 64), 0);
  EXPECT_TRUE(DestroyBlobDescriptor());

  // A foreign text value that runs to the end of the file without a marker:
  // reads answer the bytes up to the end.
  Close();
  Bytes memo = MemoBytes("text", 0x83);
  memo.resize(1024 + 7);
  std::memcpy(memo.data() + 1024, "no mark", 7);
  table_test::WriteAll(MemoPath("text", 0x83), memo);
  Open("text");
  ASSERT_EQ(CreateBlobDescriptor(false, 2, kBlobRead), 2);
  EXPECT_EQ(ReadBlobStream(buffer, 64), 7);
  EXPECT_EQ(std::string(buffer, 7), "no mark");
  DestroyBlobDescriptor();
  // A block beyond the end of the file.
  EXPECT_EQ(CreateBlobDescriptor(false, 9, kBlobRead), 0);
  ExpectError(1003);
  EXPECT_EQ(ReadBlobStream(buffer, 64), 0);
  EXPECT_EQ(SeekBlobStream(0, 2), 0);
}

TEST_F(BlobStreamTest, TheFirstPieceDecidesTheCharacterSetConversion) {
  MakeMemoTable("oem", 0x8B);
  Open("oem");
  // ANSI text is stored in OEM (0xE9 e-acute is 0x82 in code page 437).
  const std::int32_t text = StreamWrite("caf\xE9", 10, true);
  std::string stored;
  ASSERT_TRUE(ReadMemoValue(text, stored, "test"));
  EXPECT_EQ(stored, "caf\x82");
  EXPECT_EQ(StreamRead(text, 10, true), "caf\xE9");
  // A bell in the first piece: bytes as they are, for the value's life.
  const std::string binary = std::string("\x07\xE9", 2) + std::string(600, '\x82');
  const std::int32_t raw = StreamWrite(binary, 100, true);
  ASSERT_TRUE(ReadMemoValue(raw, stored, "test"));
  EXPECT_EQ(stored, binary);
  EXPECT_EQ(StreamRead(raw, 100, true), binary);
  // The caller's bytes are never converted in place.
  std::string mine = "caf\xE9";
  CreateBlobDescriptor(true, 0, kBlobWrite);
  WriteBlobStream(mine.data(), 4);
  DestroyBlobDescriptor();
  EXPECT_EQ(mine, "caf\xE9");
}

TEST_F(BlobStreamTest, NothingIsOpenWithoutATableOrMemoFile) {
  Select(5);
  EXPECT_EQ(CreateBlobDescriptor(false, 1, kBlobRead), 0);
  ExpectError(215);
  char byte = 0;
  EXPECT_EQ(ReadBlobStream(&byte, 1), 0);
  EXPECT_EQ(WriteBlobStream(&byte, 1), 0);
  ASSERT_TRUE(CreateDBF(Path("plain.DBF"), {{"NAME", 'C', 10, 0}}));
  Use(Path("plain") + " EXCLUSIVE", nullptr, 0);
  EXPECT_EQ(CreateBlobDescriptor(false, 1, kBlobWrite), 0);
  ExpectError(1019);
}

// ------------------------------------------------- through the dataset ---

class DatasetStreamTest : public BlobStreamTest {
 protected:
  void SetUp() override {
    BlobStreamTest::SetUp();
    ImmediateDispatch = true;
    RaiseExceptions = true;
  }
  std::unique_ptr<TQdDbf> OpenDataset(const std::string& name) {
    auto dataset = std::make_unique<TQdDbf>();
    dataset->SetDbfFileName(Path(name + ".DBF"));
    dataset->Open();
    return dataset;
  }
  fw::testing::ScopedHost host_;
};

TEST_F(DatasetStreamTest, MemoFieldsAreWrittenAndReadAsTextInEveryVariant) {
  for (std::uint8_t version : {0x83, 0x8B, 0xF5}) {
    const std::string name = "ds" + std::to_string(version);
    SCOPED_TRACE(name);
    MakeMemoTable(name, version);
    Open(name);
    AppendValue("old value", "ANN");
    AppendValue("", "BOB");
    Close();
    {
      auto people = OpenDataset(name);
      fw::TField* notes = people->FieldByName("NOTES");
      EXPECT_EQ(notes->AsString(), "old value");
      people->Edit();
      notes->SetAsString("caf\xE9 new\r\nsecond line");
      people->Post();
      EXPECT_EQ(notes->AsString(), "caf\xE9 new\r\nsecond line");
      // Writing in browse state puts the dataset into the edit state.
      people->Next();
      EXPECT_EQ(notes->GetText(true), "(memo)");
      notes->SetAsString(std::string(3000, 'z'));
      EXPECT_EQ(people->State(), fw::dsEdit);
      EXPECT_TRUE(people->Modified());
      people->Post();
      people->Close();
    }
    auto again = OpenDataset(name);
    fw::TField* notes = again->FieldByName("NOTES");
    EXPECT_EQ(notes->AsString(), "caf\xE9 new\r\nsecond line");
    again->Next();
    EXPECT_EQ(notes->AsString(), std::string(3000, 'z'));
    again->Close();
    // Stored in the OEM code page, which the record's block names.
    Open(name);
    EXPECT_EQ(ValueOf(1), "caf\x82 new\r\nsecond line");
    if (version == 0x83) {
      EXPECT_LT(Slot(), 0);
    }
    Close();
  }
}

TEST_F(DatasetStreamTest, AStreamClosedWithoutWritingEmptiesTheField) {
  MakeMemoTable("clear", 0x8B);
  Open("clear");
  AppendValue("to be removed");
  Close();
  auto dataset = OpenDataset("clear");
  fw::TField* notes = dataset->FieldByName("NOTES");
  int changes = 0;
  notes->OnChange = [&](fw::TField*) { ++changes; };
  dataset->Edit();
  notes->Clear();
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(notes->IsNull());
  dataset->Post();
  dataset->Close();
  Open("clear");
  EXPECT_EQ(Slot(), 0);
  EXPECT_EQ(Peek(2, 1), std::string(10, ' '));
}

TEST_F(DatasetStreamTest, StreamsSeekToTheEndOfADbaseThreeValueAndCancelKeepsTheOldValue) {
  MakeMemoTable("seek", 0x83);
  Open("seek");
  AppendValue("0123456789");
  Close();
  auto dataset = OpenDataset("seek");
  fw::TField* notes = dataset->FieldByName("NOTES");
  {
    std::unique_ptr<fw::TStream> stream = dataset->CreateBlobStream(notes, fw::bmRead);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->Size(), 10);
    EXPECT_EQ(stream->Seek(-3, fw::soEnd), 7);
    char tail[8] = {};
    EXPECT_EQ(stream->Read(tail, 8), 3);
    EXPECT_EQ(std::string(tail, 3), "789");
  }
  {
    dataset->Edit();
    std::unique_ptr<fw::TStream> stream = dataset->CreateBlobStream(notes, fw::bmWrite);
    stream->WriteBuffer("abcdef", 6);
    EXPECT_EQ(stream->Seek(0, fw::soEnd), 6);
    EXPECT_EQ(stream->Seek(2, fw::soBeginning), 2);
    stream->WriteBuffer("C", 1);
  }
  EXPECT_EQ(notes->AsString(), "abCdef");
  dataset->Cancel();
  EXPECT_EQ(notes->AsString(), "0123456789");
  dataset->Close();
  Open("seek");
  EXPECT_EQ(ValueOf(1), "0123456789");
}

TEST_F(DatasetStreamTest, AReadOnlyDatasetRefusesWriteStreams) {
  MakeMemoTable("ro", 0x8B);
  Open("ro");
  AppendValue("kept");
  Close();
  const Bytes before = MemoBytes("ro", 0x8B);
  auto dataset = std::make_unique<TQdDbf>();
  dataset->SetDbfFileName(Path("ro.DBF"));
  dataset->SetReadOnly(true);
  dataset->Open();
  fw::TField* notes = dataset->FieldByName("NOTES");
  EXPECT_EQ(notes->AsString(), "kept");
  EXPECT_THROW(notes->SetAsString("changed"), fw::Exception);
  dataset->Close();
  EXPECT_EQ(MemoBytes("ro", 0x8B), before);
}

}  // namespace
}  // namespace qd::memo_test

#ifndef _WIN32
namespace qd::memo_test {
namespace {

// Another program that places its values by the header's next free block
// (python3-dbf) writes after a streamed value, not over it.
TEST_F(DatasetStreamTest, AnotherProgramPlacesItsValueAfterTheStreamedOne) {
  MakeMemoTable("peer", 0x83);
  {
    auto dataset = OpenDataset("peer");
    dataset->Append();
    dataset->FieldByName("NAME")->SetAsString("STREAMED");
    dataset->FieldByName("NOTES")->SetAsString(std::string(1200, 's'));
    dataset->Post();
    dataset->Close();
  }
  const std::string script = Path("peer.py");
  std::FILE* file = std::fopen(script.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fputs(
      "import sys\n"
      "try:\n"
      "    import dbf\n"
      "except ImportError:\n"
      "    sys.exit(77)\n"
      "t = dbf.Table(sys.argv[1], codepage='cp437')\n"
      "t.open(dbf.READ_WRITE)\n"
      "t.append(('PEER', 'written by another program'))\n"
      "t.close()\n",
      file);
  std::fclose(file);
  const int status = std::system(("/usr/bin/python3 '" + script + "' '" + Path("peer.DBF") + "'").c_str());
  if (status != 0 && WEXITSTATUS(status) == 77) GTEST_SKIP() << "python3-dbf is not installed";
  ASSERT_EQ(status, 0);
  Open("peer");
  EXPECT_EQ(ValueOf(1), std::string(1200, 's'));
  EXPECT_EQ(ValueOf(2), "written by another program");
  Go(2);
  EXPECT_EQ(Slot(), 4);  // after the streamed value's blocks 1 to 3
}

// A disk that fills while a value is streamed: the write raises, the memo
// lock is free, and the field keeps its old value after the post.
TEST_F(DatasetStreamTest, AStreamThatRunsOutOfDiskSpaceKeepsTheOldValue) {
  namespace fs = std::filesystem;
  const fs::path mount = fs::path(Path("small"));
  fs::create_directories(mount);
  if (::mount("none", mount.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "a size-limited file system cannot be mounted here";
  struct Unmount {
    fs::path path;
    // Detached even while a file on it is still open, so no mount stays.
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{mount};
  MakeMemoTable("small/full", 0x8B);
  Open("small/full");
  AppendValue("the old value");
  Close();
  auto dataset = OpenDataset("small/full");
  fw::TField* notes = dataset->FieldByName("NOTES");
  dataset->Edit();
  EXPECT_THROW(notes->SetAsString(std::string(2 * 1024 * 1024, 'x')), EQuindleError);
  ErrorCode = 0;
  dataset->Post();
  EXPECT_EQ(notes->AsString(), "the old value");
  dataset->Close();
  Open("small/full", false);
  EXPECT_EQ(ValueOf(1), "the old value");
  // Nobody holds the memo lock (the space the partial value took stays
  // taken until a pack).
  ASSERT_NE(LockMemoPadAndSeekEOF("test"), 0u) << ErrorText;
  EXPECT_TRUE(UpdateMemoHeader());
  Close();
}

}  // namespace
}  // namespace qd::memo_test
#endif
