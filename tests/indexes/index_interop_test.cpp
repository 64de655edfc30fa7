// Built index files read by an independent program: the Perl module XBase
// (Debian's libdbd-xbase-perl), whose XBase::Index reads MDX files, lists
// each tag's keys and record numbers in its order; the lists must equal the
// engine's own walk of the same tags. Skipped where the module is missing.
//
// What the reader does not decode: it returns date and numeric keys as
// their stored bytes (compared here in hexadecimal), and it does not
// search by key in these tags; it lists every tag (descending, unique and
// FOR tags too) in the stored order by walking the nodes, the trailing
// pointer as the rightmost child, leaves at two depths included.
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include "index_test_support.h"
#include "platform/platform.h"

namespace qd::index_test {
namespace {

#ifdef __linux__

bool PerlXBaseAvailable() { return std::system("perl -MXBase::Index -e 1 >/dev/null 2>&1") == 0; }

// The reader's listing of a tag: one line "<record> <key>" per entry, the
// key as the module returns it: character keys with trailing blanks cut;
// date keys come back as their 8 stored bytes, read here as the day number.
std::vector<std::string> PerlListing(const std::string& index, const std::string& tag, const std::string& out,
                                     bool binary) {
  const std::string script = out + ".pl";
  std::ofstream(script) << "use XBase::Index;\n"
                           "my $i = XBase::Index->new($ARGV[0], tag => $ARGV[1]) or die XBase::Index->errstr;\n"
                           "$i->prepare_select;\n"
                           "open(my $f, '>', $ARGV[2]) or die;\n"
                           "while (my ($k, $v) = $i->fetch) {\n"
                           "  if ($ARGV[3]) { $k = unpack('H*', $k); } else { $k =~ s/\\s+$//; }\n"
                           "  print $f \"$v $k\\n\";\n"
                           "}\n"
                           "close $f;\n";
  const std::string command = "perl '" + script + "' '" + index + "' '" + tag + "' '" + out + "' " + (binary ? "1" : "0") + " 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::vector<std::string> lines;
  std::ifstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class IndexInteropTest : public IndexTest {};

TEST_F(IndexInteropTest, PerlXBaseListsEveryTagAsTheEngineWalksIt) {
  if (!PerlXBaseAvailable()) GTEST_SKIP() << "Perl XBase is not installed";
  // 4,050 records: three levels of nodes with the last leaf one level
  // higher than the others; equal names come in groups.
  std::vector<std::string> records;
  std::mt19937 random(3);
  for (int i = 0; i < 4050; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "K%04d", static_cast<int>(random() % 3000));
    char born[16];
    std::snprintf(born, sizeof born, "%04d%02d%02d", 1950 + static_cast<int>(random() % 60),
                  1 + static_cast<int>(random() % 12), 1 + static_cast<int>(random() % 28));
    records.push_back(Person(false, name, "1.00", born, 'T'));
  }
  OpenPeople(true, records);
  ASSERT_TRUE(MakeIndex({{"NAMES", "NAME", "", false, false},
                         {"BORN", "BORN", "", false, false},
                         {"FIRSTS", "NAME", "", false, true},
                         {"SOME", "NAME", "BORN > CTOD(\"01/01/1980\")", false, false},
                         {"NUMBERS", "VAL(SUBSTR(NAME, 2, 4))", "", false, false},
                         {"DOWN", "NAME", "", true, false}}))
      << ErrorText;
  OpenIndex();
  const std::string file = platform::ResolvePath(Mdx());
  const std::string names[] = {"NAMES", "BORN", "FIRSTS", "SOME", "NUMBERS", "DOWN"};
  for (int slot = 1; slot <= 6; ++slot) {
    CurrIndex& tag = *TagInSlot(slot);
    std::vector<std::string> walked;
    ASSERT_EQ(WalkTree(tag,
                       [&](std::uint32_t record, const std::uint8_t* key) {
                         std::string text;
                         if (tag.key_type != 'C') {
                           static const char* digits = "0123456789abcdef";
                           for (int i = 0; i < tag.key_length; ++i) {
                             text += digits[key[i] >> 4];
                             text += digits[key[i] & 15];
                           }
                         } else {
                           text.assign(reinterpret_cast<const char*>(key), static_cast<std::size_t>(tag.key_length));
                           text.erase(text.find_last_not_of(' ') + 1);
                         }
                         walked.push_back(std::to_string(record) + " " + text);
                       }),
              0);
    const std::vector<std::string> listed =
        PerlListing(file, names[slot - 1], Path(names[slot - 1] + ".txt"), tag.key_type != 'C');
    ASSERT_FALSE(walked.empty());
    EXPECT_EQ(listed, walked) << names[slot - 1];
  }
}

#endif

}  // namespace
}  // namespace qd::index_test
