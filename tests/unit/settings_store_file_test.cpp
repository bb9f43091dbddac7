// The per-user settings file: typed round trip, the subkey made by the first write only,
// atomic replacement, and a malformed file reported and left as it was.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "core/settings.h"
#include "platform/settings_store.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
using platform::SettingKind;
using platform::SettingValue;

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("XDG_CONFIG_HOME", home_.c_str(), 1); }

  fs::path File() const { return home_ / "Kerrow" / "Lintrak" / "1.0.ini"; }
  void WriteFile(const std::string& text) { test::WriteText(File(), text); }
  std::string ReadFile() const { return test::ReadText(File()); }

  test::TempDir temp_{"settings-file"};
  const fs::path home_ = temp_.path();
};

TEST_F(SettingsFile, RoundTripKeepsKindsAndOddTexts) {
  {
    auto store = OpenMainSettings();
    EXPECT_FALSE(store->Read("ProcInd"));
    store->Flush();
    EXPECT_FALSE(fs::exists(File().parent_path())) << "reading and an empty flush create nothing";
    store->Write("ProcInd", SettingValue::Integer(-1));
    store->Write("HEXFile", SettingValue::Text("C:\\fw\\a b.hex\n\r=x:\tЯ"));
    store->Write("SREL", SettingValue::Text("7"));
    store->Flush();
  }
  auto store = OpenMainSettings();
  EXPECT_EQ(store->Read("procind"), SettingValue::Integer(-1));
  EXPECT_EQ(store->Read("HEXFile"), SettingValue::Text("C:\\fw\\a b.hex\n\r=x:\tЯ"));
  EXPECT_EQ(store->Read("SREL"), SettingValue::Text("7"));
  EXPECT_EQ(store->Location(), File().string());
  const auto leftovers = std::distance(fs::directory_iterator(File().parent_path()), {});
  EXPECT_EQ(leftovers, 1) << "no temporary file stays behind";
}

TEST_F(SettingsFile, BinaryValueIsReadAndRefused) {
  WriteFile("[Software\\Kerrow\\Lintrak\\1.0]\nSREL=binary:0aFF\n");
  auto store = OpenMainSettings();
  const auto value = store->Read("SREL");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->kind, SettingKind::Binary);
  EXPECT_EQ(value->text, "\x0a\xff");
  EXPECT_THROW(ReadSettingInteger(*store, "SREL", 0), ESettingsError);
}

TEST_F(SettingsFile, MalformedFileIsReportedWithItsLineAndKept) {
  const char* broken[] = {
      "[Software\\Kerrow\\Lintrak\\1.0]\nProcInd=int:12x\n",
      "[Software\\Kerrow\\Lintrak\\1.0]\nProcInd=12\n",
      "[Software\\Kerrow\\Lintrak\\1.0]\nHEXFile=text:bad\\q\n",
      "[Other]\nProcInd=int:1\n",
      "ProcInd=int:1\n",
      "[Software\\Kerrow\\Lintrak\\1.0]\nA=int:1\na=int:2\n",
  };
  for (const char* text : broken) {
    WriteFile(text);
    try {
      OpenMainSettings();
      ADD_FAILURE() << "accepted: " << text;
    } catch (const ESettingsError& error) {
      EXPECT_NE(std::string(error.what()).find(File().string()), std::string::npos);
      EXPECT_NE(std::string(error.what()).find("(строка "), std::string::npos);
    }
    EXPECT_EQ(ReadFile(), text);
  }
}

TEST_F(SettingsFile, WriteThatCannotBeMadeLastingIsReported) {
  // A file stands where the settings folder belongs, so the folder cannot be made.
  const fs::path blocker = File().parent_path();
  fs::create_directories(blocker.parent_path());
  std::ofstream(blocker) << "in the way";
  auto store = OpenMainSettings();
  store->Write("ProcInd", SettingValue::Integer(1));
  EXPECT_THROW(store->Flush(), std::system_error);
  EXPECT_TRUE(fs::is_regular_file(blocker));
}

}  // namespace
}  // namespace fw
