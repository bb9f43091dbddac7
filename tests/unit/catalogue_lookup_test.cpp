// The catalogue lookup order and the catalogues that cannot be used.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/catalogue_lookup.h"
#include "core/message_format.h"
#include "core/texts.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

class CatalogueLookupTest : public ::testing::Test {
 protected:
  void Put(const fs::path& path, const std::string& text = "[DEVICE_1]\nNAME=Board\n") {
    fs::create_directories(path.parent_path());
    test::WriteText(path, text);
  }
  std::string Refused(std::string_view reason) const {
    std::string paths;
    for (const fs::path& path : {beside_, users_, installed_})
      paths += "\n\r  " + path.string();
    return FormatMessage(texts::kCataloguePathsTried, {std::string(reason), paths});
  }

  test::TempDir temp_{"catalogue_lookup"};
  const CatalogueFolders folders_{.executableDir = temp_.path() / "usr" / "bin",
                                  .userConfigDir = temp_.path() / "config" / "fwupdater"};
  const fs::path beside_ = folders_.executableDir / "DEV_LIST.dat";
  const fs::path users_ = folders_.userConfigDir / "DEV_LIST.dat";
  const fs::path installed_ = temp_.path() / "usr" / "share" / "fwupdater" / "DEV_LIST.dat";
};

TEST_F(CatalogueLookupTest, TheFirstPlaceThatHoldsOneWins) {
  EXPECT_EQ(FindCatalogue({}, folders_).tried,
            (std::vector<fs::path>{beside_, users_, installed_}));
  EXPECT_EQ(FindCatalogue({}, folders_).found, std::nullopt);
  for (const fs::path& path : {installed_, users_, beside_}) {
    Put(path);
    EXPECT_EQ(FindCatalogue({}, folders_).found, path);
  }
  // A named file is the only one looked at, even when it is missing.
  const CatalogueLookup named = FindCatalogue(temp_.path() / "mine.dat", folders_);
  EXPECT_EQ(named.tried, std::vector<fs::path>{temp_.path() / "mine.dat"});
  EXPECT_EQ(named.found, std::nullopt);
  // Without a user's folder the platform offers, the other two remain.
  EXPECT_EQ(FindCatalogue({}, {.executableDir = folders_.executableDir, .userConfigDir = {}}).tried,
            (std::vector<fs::path>{beside_, installed_}));
}

TEST_F(CatalogueLookupTest, NoneAnEmptyOneOrAnUnreadableOneNamesThePathsTried) {
  const auto refusal = [&] {
    try {
      LoadFoundCatalogue(FindCatalogue({}, folders_));
    } catch (const ECatalogueUnusable& error) {
      return std::string(error.what());
    }
    return std::string("no refusal");
  };
  EXPECT_EQ(refusal(), Refused(texts::kCatalogueNotFound));

  // An unusable copy is reported, not passed over for the next place.
  Put(installed_);
  Put(users_, "; nothing\n");
  EXPECT_EQ(refusal(), Refused(FormatMessage(texts::kCatalogueEmpty, {users_.string()})));
  fs::remove(users_);
  fs::create_directories(users_);
  EXPECT_EQ(refusal(), Refused("Cannot open file " + users_.string() +
                               ": это не обычный файл (папка, канал FIFO или устройство)"));
  fs::remove(users_);
  Put(users_, "[DEVICE_1]\nNAME=Board\nHCLASS=seven\n");
  EXPECT_EQ(refusal(), Refused("'seven' is not a valid integer value"));

  fs::remove(users_);
  const std::vector<DeviceEntry> devices = LoadFoundCatalogue(FindCatalogue({}, folders_));
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].info.Name, "Board");
}

}  // namespace
}  // namespace fw
