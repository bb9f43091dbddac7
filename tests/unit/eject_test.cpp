#include "core/eject.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/fake_volumes.h"
#include "support/recording_presenter.h"
#include "support/temp_dir.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

using test::RecordingPresenter;

class CardEjection : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_ / "card");
    fs::create_directories(root_ / "disk");
    volumes_.AddCard(root_ / "card", "E", 1 << 20, 1 << 19);
  }

  std::vector<std::string> Ejects() const {
    std::vector<std::string> ejects;
    for (const auto& call : volumes_.Calls()) {
      if (call.rfind("Eject ", 0) == 0)
        ejects.push_back(call);
    }
    return ejects;
  }

  test::TempDir temp_{"eject"};
  const fs::path root_ = temp_.path();
  platform::FakeVolumes volumes_;
  RecordingPresenter presenter_;
};

TEST_F(CardEjection, TellsWhetherTheCardMayBePulled) {
  struct Case {
    bool succeeds;
    TEjectResult result;
    std::string text;
    MessageIcon icon;
  };
  const Case cases[] = {
      {true, TEjectResult::Ejected, "Диск E: может быть безопасно извлечен",
       MessageIcon::Information},
      {false, TEjectResult::Failed,
       "Ошибка при попытке извлечения диска E:\n\rВероятно он открыт в другом приложении. "
       "Закройте приложения\n\rкоторые могут использовать этот диск или укажите для этих "
       "приложений\n\rдругой диск.",
       MessageIcon::Error},
  };
  for (const auto& c : cases) {
    presenter_.shown.clear();
    volumes_.Find("E")->script.ejectSucceeds = c.succeeds;
    const auto path = (root_ / "card" / "data.rgd").string();
    EXPECT_EQ(EjectCard(CardVolumeOfPath(path, volumes_), volumes_, presenter_,
                        platform::Interaction::Forbidden),
              c.result);
    ASSERT_EQ(presenter_.shown.size(), 1u);
    EXPECT_EQ(presenter_.shown[0].text, c.text);
    EXPECT_EQ(presenter_.shown[0].style.icon, c.icon);
    EXPECT_EQ(volumes_.LastInteraction(), platform::Interaction::Forbidden);
  }
  EXPECT_EQ(Ejects().size(), 2u);
}

// The front end moves the current directory off the card between finding the card and ejecting
// it; the core leaves it where it is.
TEST_F(CardEjection, RelativePathResolvesAgainstTheCurrentFolder) {
  fs::current_path(root_ / "card");
  const auto card = CardVolumeOfPath("data.rgd", volumes_);
  ASSERT_TRUE(card.has_value());
  EXPECT_EQ(card->id, "E");
  EXPECT_EQ(EjectCard(card, volumes_, presenter_), TEjectResult::Ejected);
  EXPECT_EQ(Ejects(), std::vector<std::string>{"Eject E"});
  EXPECT_EQ(fs::current_path(), root_ / "card");
  fs::current_path(FW_BIN_DIR);
}

TEST_F(CardEjection, PathOnNoCardOrEmptyDoesNothing) {
  for (const std::string& path : {std::string(), (root_ / "disk" / "data.rgd").string(),
                                  (root_ / "cardboard" / "data.rgd").string()}) {
    const auto card = CardVolumeOfPath(path, volumes_);
    EXPECT_FALSE(card.has_value()) << path;
    EXPECT_EQ(EjectCard(card, volumes_, presenter_), TEjectResult::NothingToEject) << path;
  }
  EXPECT_TRUE(presenter_.shown.empty());
  EXPECT_TRUE(Ejects().empty());
}

}  // namespace
}  // namespace fw
