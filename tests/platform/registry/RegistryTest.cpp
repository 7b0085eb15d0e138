#include "platform/registry/Registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "testsupport/TestSupport.h"

using namespace sdm;
using sdm::test::ReadText;
using sdm::test::TempDir;
using sdm::test::WriteText;

namespace {

class RegistryTest : public test::PrivateRegistryTest {
protected:
  void SetUp() override { TakeRegistryProblems(); }
  std::string Hive() const { return UserHive(); }
  // Replaces the hive file as another process would (a new inode), so the
  // next access reads the file again instead of trusting memory.
  void RewriteHive(const std::string& text) {
    WriteText(Hive() + ".other", text);
    std::filesystem::rename(Hive() + ".other", Hive());
  }
};

}  // namespace

TEST_F(RegistryTest, HivePathFollowsTheEnvironment) {
  EXPECT_EQ(RegistryHivePath(HKEY_CURRENT_USER), Hive());
  unsetenv("SLIDOMAT_REGISTRY_DIR");
  setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
  EXPECT_EQ(RegistryHivePath(HKEY_CURRENT_USER), "/somewhere/config/Tarvenit/HKEY_CURRENT_USER.reg");
  unsetenv("XDG_CONFIG_HOME");
  setenv("SLIDOMAT_MACHINE_REGISTRY_DIR", "/opt/x", 1);
  EXPECT_EQ(RegistryHivePath(HKEY_LOCAL_MACHINE), "/opt/x/HKEY_LOCAL_MACHINE.reg");
  unsetenv("SLIDOMAT_MACHINE_REGISTRY_DIR");
}

TEST_F(RegistryTest, ValuesPersistInTheHiveFileAndSurviveAReread) {
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Tarvenit\\Slidomat", true));
    EXPECT_TRUE(reg.WriteString("PicsPath", "/home/ann/Pictures/"));
    EXPECT_TRUE(reg.WriteInteger("langue", 1036));
  }
  const std::string text = ReadText(Hive());
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\SOFTWARE\\Tarvenit\\Slidomat]"), std::string::npos) << text;
  EXPECT_NE(text.find("\"langue\"=dword:0000040c"), std::string::npos) << text;

  RewriteHive(text);
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKeyReadOnly("software\\TARVENIT\\slidomat"));
  EXPECT_EQ(reg.ReadString("picspath").value_or("?"), "/home/ann/Pictures/");
  EXPECT_EQ(reg.ReadInteger("LANGUE").value_or(0), 1036u);
  // A value is read only as its own type.
  EXPECT_FALSE(reg.ReadInteger("PicsPath"));
  EXPECT_FALSE(reg.ReadString("langue"));
  EXPECT_EQ(reg.GetDataType("langue"), REG_DWORD);
  EXPECT_EQ(reg.GetDataType("missing"), REG_NONE);
  EXPECT_FALSE(reg.WriteString("x", "y")) << "read-only key";
  // No temporary file is left behind by the writes.
  for (const auto& e : std::filesystem::directory_iterator(dir.file("user")))
    EXPECT_EQ(e.path().string().find(".tmp"), std::string::npos) << e.path();
}

TEST_F(RegistryTest, AwkwardTextsRoundTrip) {
  const std::string texts[] = {
      "", "say \"hi\"", "C:\\path\\", "two\nlines\r\n", "tab\there", std::string("nul\x01x"), "ünïcode ✓"};
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("K", true));
    for (size_t i = 0; i < std::size(texts); ++i) ASSERT_TRUE(reg.WriteString("v" + std::to_string(i), texts[i]));
    ASSERT_TRUE(reg.WriteString("odd \"name\" = \\", "n"));
  }
  RewriteHive(ReadText(Hive()));
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKeyReadOnly("K"));
  for (size_t i = 0; i < std::size(texts); ++i)
    EXPECT_EQ(reg.ReadString("v" + std::to_string(i)).value_or("?"), texts[i]);
  EXPECT_EQ(reg.ReadString("odd \"name\" = \\").value_or("?"), "n");
  EXPECT_TRUE(TakeRegistryProblems().empty());
}

TEST_F(RegistryTest, KeysValuesAndTheirOrder) {
  TRegistry reg;
  EXPECT_FALSE(reg.OpenKey("A\\B", false)) << "missing keys are not made without CanCreate";
  EXPECT_FALSE(reg.KeyExists("A"));
  ASSERT_TRUE(reg.OpenKey("A", true));
  reg.WriteString("zeta", "1");
  reg.WriteString("Alpha", "2");
  reg.WriteString("ZETA", "3");  // same value, other spelling: replaced in place
  EXPECT_EQ(reg.GetValueNames(), (std::vector<std::string>{"zeta", "Alpha"}));
  EXPECT_EQ(reg.ReadString("Zeta").value_or(""), "3");
  for (const char* k : {"A\\charlie", "A\\Bravo", "A\\alpha\\deep"}) ASSERT_TRUE(TRegistry().OpenKey(k, true));
  EXPECT_EQ(reg.GetKeyNames(), (std::vector<std::string>{"alpha", "Bravo", "charlie"}));
  EXPECT_TRUE(reg.HasSubKeys());

  EXPECT_TRUE(reg.DeleteValue("ALPHA"));
  EXPECT_FALSE(reg.DeleteValue("Alpha"));
  EXPECT_TRUE(reg.DeleteKey("a\\ALPHA"));  // with its sub-key
  EXPECT_FALSE(reg.KeyExists("A\\alpha\\deep"));
  EXPECT_FALSE(reg.DeleteKey("")) << "the root stays";
  EXPECT_TRUE(reg.DeleteKey("A"));
  // The open key is gone: writes through it fail rather than bring it back.
  EXPECT_FALSE(reg.WriteString("zeta", "4"));
  EXPECT_FALSE(reg.KeyExists("A"));
  // An empty key is kept in the file.
  ASSERT_TRUE(reg.OpenKey("Empty", true));
  RewriteHive(ReadText(Hive()));
  EXPECT_TRUE(reg.KeyExists("empty"));
}

TEST_F(RegistryTest, AGarbledHiveIsKeptAsideAndReported) {
  const std::string garbage = "Slidomat registry hive 1\n[HKEY_CURRENT_USER\\K]\n\"v\"=what is this\n";
  WriteText(Hive(), garbage);
  TRegistry reg;
  EXPECT_FALSE(reg.KeyExists("K"));
  auto problems = TakeRegistryProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("line 3"), std::string::npos) << problems[0];
  EXPECT_NE(problems[0].find("kept as"), std::string::npos) << problems[0];
  EXPECT_EQ(ReadText(Hive() + ".garbled"), garbage);
  // The program goes on with an empty hive, and a second garbled file does
  // not overwrite the first one kept aside.
  ASSERT_TRUE(reg.OpenKey("K", true));
  EXPECT_TRUE(reg.WriteString("v", "fine"));
  WriteText(Hive(), "not a hive at all");
  EXPECT_FALSE(reg.ReadString("v"));
  EXPECT_EQ(ReadText(Hive() + ".garbled"), garbage);
  EXPECT_EQ(ReadText(Hive() + ".garbled.1"), "not a hive at all");
  EXPECT_EQ(TakeRegistryProblems().size(), 1u);
}

TEST_F(RegistryTest, AnUnreadableHiveIsNeverOverwritten) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  WriteText(Hive(), "Slidomat registry hive 1\n\n[HKEY_CURRENT_USER\\K]\n\"v\"=\"kept\"\n");
  chmod(Hive().c_str(), 0);
  TRegistry reg;
  EXPECT_FALSE(reg.OpenKey("K", true));
  EXPECT_FALSE(TakeRegistryProblems().empty());
  chmod(Hive().c_str(), 0600);
  ASSERT_TRUE(reg.OpenKeyReadOnly("K"));
  EXPECT_EQ(reg.ReadString("v").value_or(""), "kept");
}

TEST_F(RegistryTest, WritersInThreadsAndProcessesLoseNothing) {
  ASSERT_TRUE(TRegistry().OpenKey("K", true));
  auto writeMany = [](const std::string& prefix) {
    TRegistry reg;
    reg.OpenKey("K", true);
    for (int i = 0; i < 40; ++i) reg.WriteString(prefix + std::to_string(i), prefix);
  };
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    writeMany("p");
    _exit(0);
  }
  std::thread t1(writeMany, "a"), t2(writeMany, "b");
  t1.join();
  t2.join();
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKeyReadOnly("K"));
  EXPECT_EQ(reg.GetValues().size(), 120u);
}

namespace {

// "[HKEY_CURRENT_USER\name\name...]" with depth names under the root.
std::string DeepSection(int depth, const std::string& name) {
  std::string line = "[HKEY_CURRENT_USER";
  for (int i = 0; i < depth; ++i) line += "\\" + name;
  return line + "]\n";
}

std::string DeepPath(int depth, const std::string& name) {
  std::string path;
  for (int i = 0; i < depth; ++i) path += (i ? "\\" : "") + name;
  return path;
}

}  // namespace

TEST_F(RegistryTest, KeysNestedBeyondFiveHundredTwelveLevelsAreGarbage) {
  const std::string header = "Slidomat registry hive 1\n";
  // 512 levels, as deep as the Windows registry goes, read and written back.
  WriteText(Hive(), header + DeepSection(512, "k") + "\"v\"=\"deep\"\n");
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(DeepPath(512, "k"), false));
    EXPECT_EQ(reg.ReadString("v").value_or("?"), "deep");
    EXPECT_TRUE(reg.WriteString("w", "also"));
    EXPECT_FALSE(TRegistry().OpenKey(DeepPath(513, "k"), true)) << "one level more is refused";
    EXPECT_FALSE(TRegistry().KeyExists(DeepPath(513, "k")));
  }
  RewriteHive(ReadText(Hive()));
  ASSERT_TRUE(TRegistry().KeyExists(DeepPath(512, "K")));
  EXPECT_TRUE(TakeRegistryProblems().empty());

  // 100 000 levels: once a stack overflow in every command that read a
  // setting. Now it is garbage, set aside whole like any garbled hive.
  const std::string deep = header + DeepSection(100000, "a") + "\"v\"=\"x\"\n";
  RewriteHive(deep);
  TRegistry reg;
  EXPECT_FALSE(reg.KeyExists("a"));
  auto problems = TakeRegistryProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("garbled (line 2)"), std::string::npos) << problems[0];
  EXPECT_EQ(ReadText(Hive() + ".garbled"), deep);
  ASSERT_TRUE(reg.OpenKey("after", true));
  EXPECT_TRUE(reg.WriteString("v", "fine"));
}

TEST_F(RegistryTest, ATreeWhoseTextWouldBeTooLargeIsNeverWritten) {
  // 512 levels of 200-character names take 100 kB as one line, but as text
  // every one of the 512 sections repeats its path: about 26 MB, beyond what
  // the next start would read. Such a write used to replace the hive and the
  // next start set every setting aside.
  const std::string text =
      "Slidomat registry hive 1\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Tarvenit\\Slidomat]\n"
      "\"LastFCC\"=\"XVID\"\n" +
      DeepSection(512, std::string(200, 'n'));
  WriteText(Hive(), text);
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Tarvenit\\Slidomat", false));
  EXPECT_FALSE(reg.WriteString("OutPath", "/videos/"));
  auto problems = TakeRegistryProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("would grow beyond 16 MiB"), std::string::npos) << problems[0];
  EXPECT_EQ(ReadText(Hive()), text);
  EXPECT_EQ(reg.ReadString("LastFCC").value_or("?"), "XVID");
  EXPECT_FALSE(reg.ValueExists("OutPath"));
  // Removing the deep key brings the hive back to a size it may have.
  EXPECT_TRUE(reg.DeleteKey(std::string(200, 'n')));
  EXPECT_TRUE(reg.WriteString("OutPath", "/videos/"));
  EXPECT_LT(ReadText(Hive()).size(), 300u);
}

TEST_F(RegistryTest, SixtyThousandValuesInOneKeyAreReadAndWritten) {
  // Each value is found through an index: reading such a key once took
  // minutes, every value compared with every other.
  std::string text = "Slidomat registry hive 1\n\n[HKEY_CURRENT_USER\\Big]\n";
  for (int i = 0; i < 60000; ++i) text += "\"v" + std::to_string(i) + "\"=\"" + std::to_string(i * 7) + "\"\n";
  text += "\"V17\"=\"again\"\n";  // the same name in another case: the later line wins, in place
  WriteText(Hive(), text);
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("big", false));
  EXPECT_EQ(reg.ReadString("v59999").value_or("?"), std::to_string(59999 * 7));
  EXPECT_EQ(reg.ReadString("v17").value_or("?"), "again");
  const auto values = reg.GetValues();
  ASSERT_EQ(values.size(), 60000u);
  EXPECT_EQ(values[17].name, "V17");
  EXPECT_TRUE(reg.WriteInteger("v30000", 5));
  EXPECT_TRUE(reg.DeleteValue("v0"));
  EXPECT_TRUE(reg.WriteString("new", "n"));
  RewriteHive(ReadText(Hive()));
  EXPECT_EQ(reg.ReadInteger("V30000").value_or(0), 5u);
  EXPECT_EQ(reg.ReadString("v1").value_or("?"), "7");
  EXPECT_FALSE(reg.ValueExists("v0"));
  EXPECT_EQ(reg.GetValueNames().back(), "new");
  EXPECT_EQ(reg.GetValues().size(), 60000u);
  EXPECT_TRUE(TakeRegistryProblems().empty());
}

TEST_F(RegistryTest, ManyValuesAreWrittenInOneChange) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("K", true));
  ASSERT_TRUE(reg.WriteString("kept", "1"));
  std::vector<TRegValueInfo> values(3);
  values[0] = {"a", REG_SZ, "text", 0};
  values[1] = {"KEPT", REG_DWORD, "", 7};
  values[2] = {"bad\nname", REG_SZ, "x", 0};
  EXPECT_FALSE(reg.WriteValues(values)) << "one name could not be stored";
  EXPECT_EQ(reg.GetValueNames(), (std::vector<std::string>{"kept", "a"}));
  EXPECT_EQ(reg.ReadInteger("kept").value_or(0), 7u);
  values.pop_back();
  EXPECT_TRUE(reg.WriteValues(values));
}

TEST_F(RegistryTest, AHiveThatIsNotAPlainFileIsNeitherReadNorReplaced) {
  // A named pipe would block the first read of a setting for ever.
  ASSERT_EQ(mkfifo(Hive().c_str(), 0600), 0);
  TRegistry reg;
  EXPECT_FALSE(reg.KeyExists("K"));
  EXPECT_FALSE(reg.OpenKey("K", true));
  auto problems = TakeRegistryProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("is a named pipe"), std::string::npos) << problems[0];
  struct stat st {};
  ASSERT_EQ(stat(Hive().c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}
