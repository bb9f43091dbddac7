#include "core/preparation.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/mount.h>
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "core/carddata_create.h"
#include "core/carddata_errors.h"
#include "core/errors.h"
#include "core/texts.h"
#include "support/fake_volumes.h"
#include "support/files.h"
#include "support/recording_presenter.h"
#include "support/temp_dir.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
constexpr std::int64_t kMB = 1048576;

using test::RecordingPresenter;

class RecordingObserver : public PreparationObserver {
 public:
  std::vector<std::string> statuses, counters;
  std::uint32_t lastProgress = 0, started = 0, ended = 0;
  std::uint32_t abortAtPages = 0;  // 0: never
  bool abort = false;

  void StatusChanged(std::string_view text) override { statuses.emplace_back(text); }
  void WritingStarted(std::uint32_t) override { ++started; }
  void ProgressChanged(std::uint32_t pages, std::uint32_t) override { lastProgress = pages; }
  void CounterChanged(std::string_view text) override { counters.emplace_back(text); }
  void ProcessEvents() override { abort = abort || (abortAtPages && lastProgress >= abortAtPages); }
  bool AbortRequested() override { return abort; }
  void WritingEnded() override { ++ended; }
};

using test::ReadBytes;

// ---- Drive records and size rules ------------------------------------------------------------

TEST(PreparationRules, SizeLimitsOfADrive) {
  struct Case {
    std::int64_t totalSize;
    std::int32_t sizeMB;
    std::uint32_t extendedMax, extendedDefault;
  };
  const Case cases[] = {
      {125 * kMB, 125, 62, 12},
      {15 * kMB, 15, 7, 2},
      {kMB - 1, 0, 0, 0},
      {5 * kMB, 5, 2, 0},
      {25 * kMB + kMB / 2, 25, 12, 2},
      {135 * kMB, 135, 67, 14},
      {16 * kMB, 16, 8, 2},
      {1910 * kMB, 1910, 955, 191},
  };
  for (const auto& c : cases) {
    platform::VolumeInfo volume;
    volume.totalSize = c.totalSize;
    const auto drive = CardDriveInfoOf(volume);
    EXPECT_EQ(drive.SizeMB, c.sizeMB) << c.totalSize;
    const TFieldRange size = SizeRangeOf(drive);
    const auto sizeMB = static_cast<std::uint32_t>(c.sizeMB);
    EXPECT_EQ(size.Min, std::min(1u, sizeMB)) << c.totalSize;
    EXPECT_EQ(size.Max, sizeMB) << c.totalSize;
    EXPECT_EQ(size.Default, sizeMB) << c.totalSize;
    const TFieldRange extended = ExtendedRangeForSize(sizeMB);
    EXPECT_EQ(extended.Min, 0u) << c.totalSize;
    EXPECT_EQ(extended.Max, c.extendedMax) << c.totalSize;
    EXPECT_EQ(extended.Default, c.extendedDefault) << c.totalSize;
  }
}

// The window's editable list and the command line's --sessions accept the same: the usual
// choices and any other positive whole number.
TEST(PreparationRules, SessionsAreAnyPositiveWholeNumber) {
  struct Case {
    const char* text;
    std::optional<std::uint32_t> sessions;
  };
  const Case cases[] = {
      {"50", 50},
      {"1000", 1000},
      {" 77 ", 77},
      {"1", 1},
      {"4294967295", 4294967295u},
      {"4294967296", std::nullopt},
      {"0", std::nullopt},
      {"-5", std::nullopt},
      {"5x", std::nullopt},
      {"", std::nullopt},
      {"  ", std::nullopt},
      {"1 2", std::nullopt},
      {"+5", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParseSessions(c.text), c.sessions) << '"' << c.text << '"';
  for (const std::uint32_t choice : kSessionChoices)
    EXPECT_EQ(ParseSessions(std::to_string(choice)), choice);
  EXPECT_EQ(kDefaultSessions, 50u);
}

TEST(PreparationRules, DiscoveryKeepsTheOrderAndBuildsItemTexts) {
  platform::FakeVolumes volumes;
  volumes.AddCard("/media/a", "E", 125 * kMB + 5, 120 * kMB + kMB - 1, "NUBRA", "FAT");
  volumes.AddCard("/media/b", "sdb1", kMB / 2, kMB / 4, "", "vfat");
  const auto drives = DiscoverCardDrives(volumes);
  ASSERT_EQ(drives.size(), 2u);
  EXPECT_EQ(DriveItemText(drives[0]), "E:  Метка:NUBRA (FAT)  Размер: 125M  Свободно: 120M");
  EXPECT_EQ(DriveItemText(drives[1]), "sdb1:  Метка: (vfat)  Размер: 0M  Свободно: 0M");
  EXPECT_EQ(drives[0].RootPath, "/media/a");
  EXPECT_EQ(drives[1].Volume.id, "sdb1");
}

// ---- The plan ----------------------------------------------------------------------------------

TEST(PreparationPlan, PagesFromSizeAndFreeSpace) {
  struct Case {
    std::uint32_t sizeMB;
    std::int64_t freeBytes;
    std::uint32_t pages;
  };
  const Case cases[] = {
      {10, 120 * kMB, 20480},                           // the size asked for
      {120, 120 * kMB + 1000, 245761},                  // size = free MB: the whole free space
      {500, 120 * kMB + 511, 245760},                   // larger: the whole free space
      {4000, std::int64_t{3} << 30, 4194304},           // whole free space capped at 2 GiB
      {2048, std::int64_t{2048} * kMB + kMB, 4194304},  // size below free MB, capped too
      {1, 512, 1},                                      // a header page alone
  };
  for (const auto& c : cases) {
    const auto plan = PlanPreparation({c.sizeMB, 0, 0, true}, "E:\\", c.freeBytes);
    EXPECT_EQ(plan.Layout.Pages(), c.pages) << c.sizeMB << " MB, free " << c.freeBytes;
    EXPECT_EQ(plan.Layout.DataPages(), c.pages - 1);
    EXPECT_EQ(plan.Layout.FileBytes(), std::uint64_t{c.pages} * 512);
  }
  const auto plan = PlanPreparation({100, 500, 12, true}, "E:\\", 120 * kMB);
  EXPECT_EQ(plan.Layout.Sessions(), 500u);
  EXPECT_EQ(plan.Layout.SessionsPages(), 2000u);
  EXPECT_EQ(plan.Layout.ExtendedPages(), 24576u);
  EXPECT_EQ(plan.Path, "E:\\data.rgd");
#ifndef _WIN32  // a mount point without a drive letter
  EXPECT_EQ(PlanPreparation({1, 50, 0, true}, "/media/u/CARD", 2 * kMB).Path,
            "/media/u/CARD/data.rgd");
#endif
}

TEST(PreparationPlan, RefusesFilesThatCannotHoldTheirSections) {
  struct Case {
    TPreparationInputs inputs;
    std::int64_t freeBytes;
    std::string message;
  };
  const Case cases[] = {
      {{1, 1000, 0, true},
       100 * kMB,
       "Секции сессий и EXTENDED не помещаются в файл ММС:\n\rтребуется 4000 страниц, в файле "
       "2047 страниц данных"},
      {{2, 1000, 1, true},
       100 * kMB,
       "Секции сессий и EXTENDED не помещаются в файл ММС:\n\rтребуется 6048 страниц, в файле "
       "4095 страниц данных"},
      {{10, 50, 0, true},
       511,
       "Недопустимый размер файла ММС: 0 страниц.\n\rДопустимо от 1 до 4194304 страниц (2 ГБ)"},
  };
  for (const auto& c : cases) {
    try {
      PlanPreparation(c.inputs, "E:\\", c.freeBytes);
      ADD_FAILURE() << "accepted " << c.message;
    } catch (const ECardParameters& error) {
      EXPECT_EQ(error.what(), c.message);
    }
  }
}

// ---- The start button's run on a fake card -----------------------------------------------------

class PreparationRun : public ::testing::Test {
 protected:
  void TearDown() override {
#ifndef _WIN32
    if (mounted_)
      ::umount(folder_.c_str());
#endif
  }

  // A 128 MB card with 100 MB free (not empty) and 120 MB free after the format.
  platform::FakeCard& AddCard() {
    auto& card = volumes_.AddCard(folder_, "E", 128 * kMB, 100 * kMB);
    card.script.freeSpace = 120 * kMB;
    return card;
  }
  TPreparationOutcome Run(const TPreparationInputs& inputs) {
    const auto drive = CardDriveInfoOf(volumes_.List().front());
    return RunPreparation(drive, inputs, volumes_, presenter_, observer_,
                          platform::Interaction::Forbidden);
  }
  fs::path DataFile() const {
    return folder_ / "data.rgd";
  }
  bool Formatted() const {
    const auto& calls = volumes_.Calls();
    return std::find(calls.begin(), calls.end(), "FormatFat16 E") != calls.end();
  }

  test::TempDir temp_{"fw-prep"};
  const fs::path folder_ = temp_.path();
  bool mounted_ = false;
  platform::FakeVolumes volumes_;
  RecordingPresenter presenter_{kIdYes};  // Yes to the format question unless a test says No
  RecordingObserver observer_;
};

TEST_F(PreparationRun, FullRunFormatsAndWritesTheFile) {
  AddCard();
  std::ofstream(DataFile()) << "an old file that the new one replaces";
  const auto outcome = Run({10, 50, 1, true});

  EXPECT_EQ(outcome.Result, TPreparationResult::Completed);
  EXPECT_TRUE(Formatted());
  EXPECT_EQ(volumes_.LastInteraction(), platform::Interaction::Forbidden);
  ASSERT_EQ(presenter_.shown.size(), 2u);
  EXPECT_EQ(presenter_.shown[0].text, texts::kFormatConfirm);
  EXPECT_EQ(presenter_.shown[0].style.icon, MessageIcon::Question);
  EXPECT_EQ(presenter_.shown[1].text, "Форматирование завершено. Создан файл " +
                                          DataFile().string() +
                                          " ,\n\rразмером 10485760 байт, содержащий 20479 "
                                          "страниц данных");
  EXPECT_EQ(presenter_.shown[1].style.icon, MessageIcon::Information);
  EXPECT_EQ(observer_.statuses,
            (std::vector<std::string>{"Форматирование файловой системы", "Запись заголовка",
                                      "Запись служебной информации в 20479 страниц"}));
  EXPECT_EQ(observer_.counters.size(), 20u);
  EXPECT_EQ(observer_.counters.back(), "Запись страницы 20000");
  EXPECT_EQ(observer_.lastProgress, 20479u);
  EXPECT_EQ(observer_.started, 1u);
  EXPECT_EQ(observer_.ended, 1u);

  const auto bytes = ReadBytes(DataFile());
  ASSERT_EQ(bytes.size(), 10485760u);
  // P 20480, S 50, X 1: DataPages 20479, sessions 0/200, EXTENDED 200/2048, main 2248/18231.
  const std::array<std::uint8_t, 48> header = {
      'N', 'U', 'B', 'R', 'A', '-', '7', 'Q', 0,    0,    1, 4, 0xFF, 0x4F, 0, 0,
      0,   0,   0,   0,   0,   0,   0,   0,   0,    0,    0, 0, 200,  0,    0, 0,
      200, 0,   0,   0,   0,   8,   0,   0,   0xC8, 0x08, 0, 0, 0x37, 0x47, 0, 0};
  EXPECT_TRUE(std::equal(header.begin(), header.end(), bytes.begin()));
  EXPECT_TRUE(std::all_of(bytes.begin() + 48, bytes.begin() + 80, [](auto b) { return b == 0; }));
  EXPECT_TRUE(
      std::all_of(bytes.begin() + 80, bytes.begin() + 512, [](auto b) { return b == 0xFF; }));
  EXPECT_TRUE(std::all_of(bytes.begin() + 512, bytes.end(), [](auto b) { return b == 0; }));
}

TEST_F(PreparationRun, EmptyCardIsNeitherAskedNorFormatted) {
  auto& card = AddCard();
  card.info.totalFree = card.info.totalSize;
  const auto outcome = Run({1, 50, 0, true});

  EXPECT_EQ(outcome.Result, TPreparationResult::Completed);
  EXPECT_FALSE(Formatted());
  ASSERT_EQ(presenter_.shown.size(), 1u);
  EXPECT_NE(presenter_.shown[0].text.find("размером 1048576 байт, содержащий 2047"),
            std::string::npos);
  EXPECT_EQ(fs::file_size(DataFile()), 1048576u);
  EXPECT_TRUE(observer_.counters.size() == 2 && observer_.counters[1] == "Запись страницы 2000");
}

TEST_F(PreparationRun, EmptyVolumeLargerThanFat16IsNotFormattedAndGetsItsFile) {
  auto& card = AddCard();
  card.info.totalSize = card.info.totalFree = platform::kMaxFat16VolumeBytes + kMB;
  EXPECT_EQ(Run({1, 50, 0, true}).Result, TPreparationResult::Completed);
  EXPECT_FALSE(Formatted());
  EXPECT_EQ(fs::file_size(DataFile()), 1048576u);
}

TEST_F(PreparationRun, NoToTheQuestionChangesNothing) {
  AddCard();
  presenter_.everyQuestion = kIdNo;
  EXPECT_EQ(Run({10, 50, 1, true}).Result, TPreparationResult::NotConfirmed);
  EXPECT_EQ(presenter_.shown.size(), 1u);
  EXPECT_TRUE(observer_.statuses.empty());
  EXPECT_FALSE(Formatted());
  EXPECT_FALSE(fs::exists(DataFile()));
}

TEST_F(PreparationRun, FailedFormatLeavesTheCardWithoutFile) {
  auto& card = AddCard();
  card.script.formatSucceeds = false;
  const auto outcome = Run({10, 50, 1, true});
  EXPECT_EQ(outcome.Result, TPreparationResult::FormatFailed);
  EXPECT_EQ(outcome.FormatFailure, "Format cancelled");
  EXPECT_EQ(observer_.statuses, (std::vector<std::string>{"Форматирование файловой системы",
                                                          "Форматирование НЕ выполнено!"}));
  EXPECT_EQ(presenter_.shown.size(), 1u);  // the question only
  EXPECT_EQ(observer_.started, 0u);
  EXPECT_FALSE(fs::exists(DataFile()));
}

TEST_F(PreparationRun, FailuresBeforeWritingLeaveNoFile) {
  struct Case {
    const char* what;
    void (*script)(platform::FakeCard&);
    TPreparationInputs inputs;
    std::string message;
    bool asked;
  };
  const Case cases[] = {
      {"not removable any more",
       [](platform::FakeCard& c) { c.script.notRemovable = true; },
       {10, 50, 1, true},
       "Invalid drive. Drive is not removable",
       true},
      {"free space unknown",
       [](platform::FakeCard& c) { c.script.freeSpaceFails = true; },
       {10, 50, 1, true},
       "Не удалось определить свободное место на диске E",
       true},
      {"not mounted after the format",
       [](platform::FakeCard& c) { c.script.mountFails = true; },
       {10, 50, 1, true},
       "Не удалось определить свободное место на диске E",
       true},
      {"a volume larger than FAT16 covers: refused before the question",
       [](platform::FakeCard& c) { c.info.totalSize = platform::kMaxFat16VolumeBytes + 1; },
       {10, 50, 1, true},
       "Том E слишком велик для FAT16 (2048 МБ).\n\rДопустимо не более 2047 МБ",
       false},
      {"a 1 MB file cannot hold 1000 sessions: refused before the question",
       [](platform::FakeCard&) {},
       {1, 1000, 1, true},
       "Секции сессий и EXTENDED не помещаются в файл ММС:\n\rтребуется 6048 страниц, в файле "
       "2047 страниц данных",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    platform::FakeVolumes fresh;
    volumes_ = std::move(fresh);
    presenter_.shown.clear();
    c.script(AddCard());
    try {
      Run(c.inputs);
      ADD_FAILURE() << "completed";
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(error.what(), c.message);
    }
    EXPECT_EQ(presenter_.shown.size(), c.asked ? 1u : 0u);
    EXPECT_EQ(observer_.started, 0u);
    EXPECT_FALSE(fs::exists(DataFile()));
  }
}

TEST_F(PreparationRun, AbortAfter3000PagesDeletesTheFile) {
  AddCard();
  observer_.abortAtPages = 3000;
  const auto outcome = Run({10, 50, 1, true});

  EXPECT_EQ(outcome.Result, TPreparationResult::Aborted);
  EXPECT_EQ(observer_.counters,
            (std::vector<std::string>{"Запись страницы 1000", "Запись страницы 2000",
                                      "Запись страницы 3000"}));
  EXPECT_EQ(observer_.lastProgress, 3000u);
  EXPECT_FALSE(fs::exists(DataFile()));
  ASSERT_EQ(presenter_.shown.size(), 2u);
  EXPECT_EQ(presenter_.shown[1].text, "Форматирование прервано пользователем");
  EXPECT_EQ(presenter_.shown[1].style.icon, MessageIcon::Information);
  EXPECT_EQ(observer_.ended, 1u);
}

TEST_F(PreparationRun, CardWithLessRoomThanItClaimsIsRefusedBeforeWriting) {
#ifdef _WIN32
  GTEST_SKIP() << "needs a 1 MiB tmpfs";
#else
  if (::mount("none", folder_.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a 1 MiB tmpfs here";
  mounted_ = true;
  AddCard().script.freeSpace = 10 * kMB;  // the volume claims more than it has
  try {
    Run({4, 50, 1, true});
    ADD_FAILURE() << "completed";
  } catch (const ECardNoRoom& error) {
    EXPECT_EQ(error.what(), "Недостаточно места для файла ММС " + DataFile().string() +
                                ":\n\rтребуется 4194304 байт, можно занять 1048576 байт");
  }
  EXPECT_FALSE(fs::exists(DataFile()));
  EXPECT_EQ(observer_.started, 1u);
  EXPECT_EQ(observer_.ended, 1u);
  EXPECT_EQ(presenter_.shown.size(), 1u);  // the question; the error is the caller's to show
#endif
}

// Keeping the file system keeps an existing card data file, unless the user said to replace it;
// then its space counts as free: 120 MB free and an old file of 3 MB give a file of 123 MB.
TEST_F(PreparationRun, WithoutFormatAnExistingCardIsReplacedOnlyWhenAsked) {
  AddCard();
  const test::Bytes old(3 * kMB, 0x5A);
  test::WriteBytes(DataFile(), old);
  TPreparationInputs inputs{500, 50, 1, false};
  try {
    Run(inputs);
    ADD_FAILURE() << "replaced";
  } catch (const EPrepareRefused& error) {
    EXPECT_EQ(error.what(), "Файл " + DataFile().string() +
                                " уже существует. Чтобы заменить его, укажите --force");
  }
  EXPECT_EQ(ReadBytes(DataFile()), old);
  EXPECT_TRUE(presenter_.shown.empty());
  EXPECT_EQ(observer_.started, 0u);

  inputs.ReplaceExisting = true;
  const auto outcome = Run(inputs);
  EXPECT_EQ(outcome.Result, TPreparationResult::Completed);
  EXPECT_FALSE(Formatted());
  EXPECT_EQ(outcome.Plan.Layout.Pages(), 123u * kPagesPerMegabyte);
  EXPECT_EQ(fs::file_size(DataFile()), 123u * kMB);
}

}  // namespace
}  // namespace fw
