#include "localization/StoreFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "localization/StoreBytes.h"
#include "support/Errors.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;
namespace fs = std::filesystem;

namespace {

struct TOpenStore : TStorefile {
  TOpenStore(const std::string& file, const std::string& signature, bool readOnly = false) {
    SetSignature(signature);
    SetFilename(file);
    SetReadOnly(readOnly);
    Open();
  }
};

std::string ReadStr(TStorefile& s, bool advance = true) {
  std::string t;
  s.ReadString(t, advance);
  return t;
}

}  // namespace

TEST(Storefile, WritesSignatureCountAndRecordsByteForByte) {
  TempDir dir;
  const std::string file = dir.file("sub/dir/store.bin");  // folders are created
  TBytes afterFirst;
  {
    TOpenStore s(file, "SIG");
    ASSERT_TRUE(s.IsOpen());
    EXPECT_EQ(s.RecordCount(), 0);
    EXPECT_TRUE(s.AtEnd());
    EXPECT_EQ(s.AppendString(7, "abc"), 1);
    afterFirst = ReadBytes(file);
    EXPECT_EQ(s.AppendInteger(0x21, int32_t(0x81020304)), 2);
    EXPECT_EQ(s.AppendData(0, nullptr, 0), 3);
    EXPECT_EQ(s.RecordIndex(), 3);
    EXPECT_TRUE(s.AtEnd());
  }  // closing writes the count
  // Until the store is closed the header still says 0.
  EXPECT_EQ(afterFirst, Store("SIG", 0, {Record(7, Str("abc"))}));
  EXPECT_EQ(ReadBytes(file), Store("SIG", 3, {Record(7, Str("abc")), Record(0x21, {4, 3, 2, 0x81}), Record(0, {})}));

  // Reopened, appends go after the existing records, only once at the end.
  TOpenStore s(file, "SIG");
  ASSERT_TRUE(s.IsOpen());
  EXPECT_EQ(s.RecordCount(), 3);
  EXPECT_EQ(s.AppendString(1, "x"), 0) << "not at the end: nothing is written";
  s.Last();
  s.Next();
  EXPECT_EQ(s.AppendString(1, "x"), 4);
  s.Close();
  EXPECT_EQ(ReadBytes(file).size(), 3 + 4 + 15 + 16 + 12 + 13u);
  EXPECT_EQ(s.RecordCount(), 0);
}

TEST(Storefile, ReadsAndStepsThroughHandBuiltRecords) {
  TempDir dir;
  const std::string file = dir.file("s.bin");
  WriteBytes(file, Store("AB", 4,
                         {Record(10, Str("first")), Record(0xFFFFFFFF, Str("")), Record(12, {0x34, 0x12}),
                          Record(13, Str("last one"))}));
  TOpenStore s(file, "AB", true);
  ASSERT_TRUE(s.IsOpen());
  EXPECT_EQ(s.RecordCount(), 4);

  char buf[16] = {};
  int32_t size = 2;
  EXPECT_EQ(s.ReadData(buf, size, false), 10);
  EXPECT_EQ(size, 2);
  EXPECT_EQ(std::string(buf, 2), "fi");
  size = 100;  // more than there is: the payload only
  EXPECT_EQ(s.ReadData(buf, size, false), 10);
  EXPECT_EQ(size, 5);
  EXPECT_EQ(s.DataSize(), 5);
  EXPECT_EQ(s.RecordIndex(), 0) << "without advance the store stays";
  size = -1;
  EXPECT_EQ(s.ReadData(buf, size, true), 10);
  EXPECT_EQ(size, 5);
  EXPECT_EQ(s.RecordIndex(), 1);

  std::string t = "x";
  EXPECT_EQ(s.ReadString(t, true), -1) << "tags are any 32-bit value";
  EXPECT_EQ(t, "");
  int32_t v = -1;
  EXPECT_EQ(s.ReadInteger(v, true), 12);
  EXPECT_EQ(v, 0x1234) << "a short payload fills the low bytes";
  EXPECT_EQ(ReadStr(s), "last one");
  EXPECT_TRUE(s.AtEnd());
  EXPECT_EQ(s.ReadString(t, true), 0);
  EXPECT_EQ(t, "");
  EXPECT_EQ(s.DataSize(), 0);
  s.Next();
  EXPECT_EQ(s.RecordIndex(), 4) << "Next at the end does nothing";

  s.Last();
  EXPECT_EQ(s.RecordIndex(), 3);
  EXPECT_EQ(ReadStr(s, false), "last one");
  s.Prior();
  s.Prior();
  EXPECT_EQ(s.RecordIndex(), 1);
  EXPECT_EQ(s.ReadInteger(v, false), -1);
  s.Prior();
  s.Prior();  // at index 0: stays
  EXPECT_EQ(s.RecordIndex(), 0);
  EXPECT_EQ(ReadStr(s, false), "first");
  s.GoTo(2);
  EXPECT_EQ(s.ReadInteger(v, false), 12);
  s.GoTo(4);
  s.GoTo(-1);
  EXPECT_EQ(s.RecordIndex(), 2) << "indexes outside the count do nothing";
  s.First();
  EXPECT_EQ(ReadStr(s, false), "first");

  // Nothing of this was written: a read-only store closes without a trace.
  s.Close();
  EXPECT_EQ(ReadBytes(file).size(), 2 + 4 + 17 + 12 + 14 + 20u);
}

TEST(Storefile, ReadOnlyStoresRefuseEveryWriteWithTheMessage) {
  TempDir dir;
  const std::string file = dir.file("ro.bin");
  const TBytes bytes = Store("SIG", 1, {Record(1, Str("kept"))});
  WriteBytes(file, bytes);
  {
    TOpenStore s(file, "SIG", true);
    ASSERT_TRUE(s.IsOpen());
    s.Last();
    s.Next();
    try {
      s.AppendString(2, "more");
      FAIL() << "no error";
    } catch (const EError& e) {
      EXPECT_STREQ(e.what(), "Attempt to write a data while in ReadOnly mode");
    }
    EXPECT_THROW(s.AppendInteger(2, 1), EError);
    EXPECT_THROW(s.Clear(), EError);
  }
  EXPECT_EQ(ReadBytes(file), bytes);

  // Asked read-only but closed: still refused, before anything else.
  TStorefile closed;
  closed.SetReadOnly(true);
  EXPECT_THROW(closed.AppendData(1, "x", 1), EError);
  TStorefile writable;
  EXPECT_EQ(writable.AppendData(1, "x", 1), 0) << "not open: nothing, quietly";

  // A file the user may not write is opened for reading only, and that
  // counts as read-only too. (root may write anything: nothing to check.)
  if (::geteuid() != 0) {
    ::chmod(file.c_str(), 0444);
    TOpenStore s(file, "SIG");
    ASSERT_TRUE(s.IsOpen());
    EXPECT_TRUE(s.IsReadOnly());
    s.Last();
    s.Next();
    EXPECT_THROW(s.AppendString(2, "more"), EError);
  }
}

TEST(Storefile, OpeningChecksTheSignatureAndCreatesOnlyWhenAsked) {
  TempDir dir;
  const std::string file = dir.file("x.SPK");
  const TBytes wrong = Store("Xol LANGUAGE FILX", 0, {Record(0, Le32(0x040C))});
  WriteBytes(file, wrong);
  TOpenStore s(file, "Xol LANGUAGE FILE");
  EXPECT_FALSE(s.IsOpen());
  EXPECT_EQ(s.RecordCount(), 0);
  EXPECT_TRUE(s.AtEnd());
  EXPECT_EQ(ReadBytes(file), wrong) << "a wrongly signed file is left alone";

  // Shorter than its header: not a store.
  WriteBytes(file, Str("Xol LANGUAGE FILE"));
  TOpenStore cut(file, "Xol LANGUAGE FILE");
  EXPECT_FALSE(cut.IsOpen());

  TStorefile missing;
  missing.SetSignature("S");
  missing.SetFilename(dir.file("none.bin"));
  EXPECT_FALSE(missing.OpenExisting());
  EXPECT_FALSE(fs::exists(dir.file("none.bin")));

  // A bare name is taken in the current directory.
  const fs::path cwd = fs::current_path();
  fs::current_path(dir.path());
  {
    TOpenStore bare("bare.bin", "S");
    EXPECT_TRUE(bare.IsOpen());
  }
  fs::current_path(cwd);
  EXPECT_EQ(ReadBytes(dir.file("bare.bin")), Store("S", 0, {}));

  // Clear empties an open store and leaves it open at an empty file.
  TOpenStore c(dir.file("bare.bin"), "S");
  c.Last();
  c.Next();
  c.AppendString(1, "gone");
  c.Clear();
  EXPECT_TRUE(c.IsOpen());
  EXPECT_EQ(c.RecordCount(), 0);
  c.Close();
  EXPECT_EQ(ReadBytes(dir.file("bare.bin")), Store("S", 0, {}));
}

TEST(Storefile, GarbledAndCutStoresEndWhereTheirSizesStopFitting) {
  TempDir dir;
  const std::string file = dir.file("g.bin");
  const TBytes a = Record(1, Str("A")), b = Record(2, Str("BB")), c = Record(3, Str("CCC"));

  // Reads every record it can reach and counts the steps; a fault here would
  // be a read outside the file (the sanitizer build) or a loop.
  auto walk = [&](const TBytes& bytes, std::vector<std::string>& texts) {
    WriteBytes(file, bytes);
    TOpenStore s(file, "G", true);
    if (!s.IsOpen()) return false;
    for (int steps = 0; !s.AtEnd(); ++steps) {
      if (steps > 100) {
        ADD_FAILURE() << "no end";
        break;
      }
      std::string t;
      if (s.ReadString(t, true) != 0) texts.push_back(t);
    }
    s.Last();
    for (int i = 0; i < 10; ++i) s.Prior();
    s.GoTo(0x7FFFFFF0);
    return true;
  };

  std::vector<std::string> texts;
  // A size running past the end of the file, at the second record.
  TBytes bad = b;
  bad[0] = 0xF0, bad[1] = 0xFF, bad[2] = 0xFF, bad[3] = 0xFF;
  ASSERT_TRUE(walk(Store("G", 0x7FFFFFFF, {a, bad, c}), texts));
  EXPECT_EQ(texts, std::vector<std::string>{"A"});

  // A size below the record's own 8 bytes.
  texts.clear();
  bad = b;
  bad[0] = 3, bad[1] = bad[2] = bad[3] = 0;
  ASSERT_TRUE(walk(Store("G", 3, {a, bad, c}), texts));
  EXPECT_EQ(texts, std::vector<std::string>{"A"});

  // Cut inside the last record: the whole records before it are read.
  texts.clear();
  TBytes cut = Store("G", 3, {a, b, c});
  cut.resize(cut.size() - 3);
  ASSERT_TRUE(walk(cut, texts));
  EXPECT_EQ(texts, (std::vector<std::string>{"A", "BB"}));

  // A negative count and a header only.
  texts.clear();
  ASSERT_TRUE(walk(Store("G", -5, {}), texts));
  EXPECT_TRUE(texts.empty());

  // Stepping back over a damaged trailer finds the record through the chain.
  TBytes damaged = b;
  damaged[damaged.size() - 4] = 0x77;
  WriteBytes(file, Store("G", 3, {a, damaged, c}));
  TOpenStore s(file, "G", true);
  s.GoTo(2);
  EXPECT_EQ(ReadStr(s, false), "CCC");
  s.Prior();
  EXPECT_EQ(s.RecordIndex(), 1);
  EXPECT_EQ(ReadStr(s, false), "BB");

  // Last on a cut file lands on the last whole record.
  WriteBytes(file, cut);
  TOpenStore t(file, "G", true);
  t.Last();
  EXPECT_EQ(t.RecordIndex(), 1);
  EXPECT_EQ(ReadStr(t, false), "BB");
}
