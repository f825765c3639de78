// Reading "Pid_Vid_Config.xml": what becomes an entry, how values are read, and that no file,
// however broken, leaves the list empty or brings the program down.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "BuildConfig.h"
#include "device/KeyModels.h"
#include "device/VidPidConfig.h"

namespace {

namespace fs = std::filesystem;

class VidPidConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vidpid-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string WriteFile(const std::string& content) {
    const fs::path path = dir_ / "Pid_Vid_Config.xml";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    return path.string();
  }

  fs::path dir_;
};

std::vector<VidPidEntry> Entries(std::initializer_list<std::pair<std::uint16_t, std::uint16_t>> pairs) {
  std::vector<VidPidEntry> entries;
  for (const auto& [vid, pid] : pairs) entries.push_back(VidPidEntry::Make(vid, pid));
  return entries;
}

TEST_F(VidPidConfigTest, EveryChildOfTheRootWithAUsableVidIsAnEntryInOrder) {
  const struct {
    const char* name;
    std::string xml;
    std::vector<VidPidEntry> entries;
  } cases[] = {
      {"prefixed and bare hex, a missing PID is 0", R"(<Config><Key VID="0x1234"/><Key VID="1234" PID="5678"/></Config>)",
       Entries({{0x1234, 0x0000}, {0x1234, 0x5678}})},
      {"no usable VID: the default", R"(<r><a PID="5678"/><b VID="" PID="1"/><c vid="1"/></r>)",
       {VidPidEntry::Make(tokvane::build::kMakerVendorId, 0)}},
      {"order and duplicates kept, nested elements not counted",
       "<?xml version=\"1.0\"?>\n<!-- keys of the maker -->\n<AnyRoot>\n  <Second VID=\"2\" PID=\"\"/>\n"
       "  <First VID=\"1\"><Nested VID=\"99\"/></First>\n  <Second VID=\"2\"/>\n</AnyRoot>",
       Entries({{2, 0}, {1, 0}, {2, 0}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<VidPidEntry> entries;
    EXPECT_TRUE(LoadVidPidConfig(WriteFile(c.xml), entries));
    EXPECT_EQ(entries, c.entries);
  }
  EXPECT_EQ(Entries({{0x1234, 0x5678}})[0].Value, 0x56781234u);
  EXPECT_EQ(DefaultVidPidEntry(), VidPidEntry::Make(tokvane::build::kMakerVendorId, 0));
}

struct ValueCase {
  const char* text;
  std::uint16_t vid;
  // Nothing: no product ID, and the file is not used (read as 0 it would admit every product).
  std::optional<std::uint16_t> pid;
};

TEST_F(VidPidConfigTest, VidsAreReadLikeStrtolAndPidsOnlyAsHexFrom0001ToFFFF) {
  const std::vector<ValueCase> cases{
      {"0x1A2b", 0x1A2B, 0x1A2B}, {"  \t0X1a", 0x001A, 0x001A}, {"0001", 0x0001, 0x0001},
      {"FFFF", 0xFFFF, 0xFFFF},   {"+ff", 0x00FF, std::nullopt}, {"-1", 0xFFFF, std::nullopt},
      {"12345", 0x2345, std::nullopt}, {"0x10000", 0x0000, std::nullopt}, {"0", 0x0000, std::nullopt},
      {"1g", 0x0001, std::nullopt},   {"zz", 0x0000, std::nullopt},      {"0x", 0x0000, std::nullopt},
      {"  ", 0x0000, std::nullopt},   {"FFFFFFFFFFFFFFFFFFFFFFFF", 0xFFFF, std::nullopt},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<VidPidEntry> vids;
    const std::string vidXml = std::string("<r><k VID=\"") + c.text + "\"/></r>";
    EXPECT_TRUE(ParseVidPidConfig(vidXml.data(), vidXml.size(), vids));
    ASSERT_EQ(vids.size(), 1u);
    EXPECT_EQ(vids[0].Vid(), c.vid);

    std::vector<VidPidEntry> pids;
    std::string error = "left over";
    const std::string pidXml = std::string("<r><k VID=\"1\"/>\n<k VID=\"2\" PID=\"") + c.text + "\"/></r>";
    EXPECT_EQ(ParseVidPidConfig(pidXml.data(), pidXml.size(), pids, &error), c.pid.has_value());
    if (c.pid) {
      EXPECT_EQ(pids, Entries({{1, 0}, {2, *c.pid}}));
      EXPECT_EQ(error, "");
    } else {
      EXPECT_EQ(pids, std::vector<VidPidEntry>{DefaultVidPidEntry()});
      EXPECT_EQ(error, std::string("Pid_Vid_Config.xml line 2: PID '") + c.text +
                           "' is not a product ID from 0x0001 to 0xFFFF");
    }
  }
}

TEST_F(VidPidConfigTest, AFileWithAWrongPidIsPassedOverNamingItsPathAndLine) {
  const std::string bad =
      WriteFile("<Config>\n  <Key VID=\"1209\" PID=\"0001\"/>\n  <Key VID=\"1209\" PID=\"zz\"/>\n</Config>");
  const std::string good = (dir_ / "good.xml").string();
  std::ofstream(good) << "<Config><Key VID=\"2222\" PID=\"0010\"/></Config>";
  std::string error;
  KeyModels models(Entries({{0x4444, 0}}));
  EXPECT_TRUE(LoadKeyModels({bad, good}, models, &error));
  EXPECT_EQ(models.Entries(), Entries({{0x2222, 0x0010}}));
  EXPECT_EQ(error, bad + " line 3: PID 'zz' is not a product ID from 0x0001 to 0xFFFF");
}

TEST_F(VidPidConfigTest, BrokenMissingOrHugeFilesFailQuicklyAndFallBackToTheDefaultEntry) {
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += "<a>";
  for (int i = 0; i < 5000; ++i) deep += "</a>";
  std::string huge = "<r>";
  while (huge.size() < 10 * 1024 * 1024) huge += R"(<k VID="1234" PID="5678"/>)";
  huge += "</r>";
  const struct {
    const char* name;
    std::optional<std::string> content;  // nothing: `path` as it is
    std::string path;
  } cases[] = {
      {"empty", "", ""},
      {"not XML", "VID=1209 PID=0001", ""},
      {"unclosed element", R"(<r><k VID="1"/>)", ""},
      {"mismatched tags", R"(<r><k VID="1"></r></k>)", ""},
      {"binary", std::string("\x00\xFF<r>\x01", 6), ""},
      {"nesting far too deep", std::string(20000, '<'), ""},
      {"deep but well formed", deep, ""},
      {"larger than any configuration", huge, ""},
      {"absent", std::nullopt, (dir_ / "absent.xml").string()},
      {"a directory", std::nullopt, dir_.string()},
      {"a device", std::nullopt, "/dev/zero"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = c.content ? WriteFile(*c.content) : c.path;
    const auto start = std::chrono::steady_clock::now();
    std::vector<VidPidEntry> entries;
    EXPECT_FALSE(LoadVidPidConfig(path, entries));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(entries, std::vector<VidPidEntry>{DefaultVidPidEntry()});
  }
}

TEST_F(VidPidConfigTest, TheFileIsLookedForBesideTheExecutable) {
  const fs::path executable = fs::read_symlink("/proc/self/exe");
  EXPECT_EQ(fs::path(VidPidConfigPath()), executable.parent_path() / "Pid_Vid_Config.xml");
  EXPECT_EQ(VidPidConfigPathBeside("/usr/bin/tokvane"), "/usr/bin/Pid_Vid_Config.xml");
  // No place known: no file at all, never one of the current directory.
  for (const char* unknown : {"", "tokvane", "bin/tokvane"}) {
    EXPECT_EQ(VidPidConfigPathBeside(unknown), "") << unknown;
  }
  std::vector<VidPidEntry> entries;
  EXPECT_FALSE(LoadVidPidConfig("", entries));
  EXPECT_EQ(entries, std::vector<VidPidEntry>{DefaultVidPidEntry()});
}

TEST_F(VidPidConfigTest, BothProgramsTakeTheFirstFileThatLoadsAndOtherwiseTheDefault) {
  const std::string missing = (dir_ / "absent.xml").string();
  const std::string broken = (dir_ / "broken.xml").string();
  std::ofstream(broken) << "<Config><Key VID=\"1111\"";
  const std::string good = WriteFile("<Config><Key VID=\"2222\" PID=\"0010\"/></Config>");
  const std::string other = (dir_ / "other.xml").string();
  std::ofstream(other) << "<Config><Key VID=\"3333\"/></Config>";

  KeyModels models(Entries({{0x4444, 0}}));
  EXPECT_TRUE(LoadKeyModels({missing, broken, good, other}, models));
  EXPECT_EQ(models.Entries(), Entries({{0x2222, 0x0010}}));
  EXPECT_FALSE(LoadKeyModels({missing, broken}, models));
  EXPECT_EQ(models.Entries(), std::vector<VidPidEntry>{DefaultVidPidEntry()});

  EXPECT_EQ(VidPidConfigSearchPath("/usr/share/tokvane"),
            (std::vector<std::string>{VidPidConfigPath(), "/usr/share/tokvane/Pid_Vid_Config.xml"}));
}

}  // namespace
