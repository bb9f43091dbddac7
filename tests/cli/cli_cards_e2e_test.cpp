// The card commands end to end (`drives`, `prepare`, `eject`): the command line runs in the test's
// process on fake cards, each a folder that the test sets up and scripts. Where a card's sizes
// matter, its folder is a small tmpfs of its own, mounted in a private mount namespace of the test
// process that ends with the process (and that the runs of the real fwupdater inherit). Without
// fake cards the real fwupdater reaches for the system's volume service, and only its card
// commands do.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_in_process.h"
#include "cli/cli_run.h"
#include "core/message_format.h"
#include "core/texts.h"
#include "support/fake_volumes.h"

namespace fw {
namespace {

using namespace clitest;

constexpr std::int64_t kMiB = 1048576;

bool WriteProcFile(const char* path, const std::string& text) {
  std::ofstream file(path);
  file << text;
  file.close();
  return static_cast<bool>(file);
}

// Enters a mount namespace of this process's own, once: as root directly, otherwise through a
// user namespace where the system allows one. Mounts made there vanish with the process.
bool PrivateMounts() {
  static const bool entered = [] {
    const auto uid = ::getuid();
    const auto gid = ::getgid();
    if (::unshare(CLONE_NEWNS) != 0) {
      if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
        return false;
      WriteProcFile("/proc/self/setgroups", "deny");
      if (!WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
          !WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
        return false;
    }
    return ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  }();
  return entered;
}

// A fresh file system of `mb` MiB on the folder: an empty card of exactly that size.
bool MountTmpfs(const fs::path& folder, int mb) {
  const std::string options = "size=" + std::to_string(mb) + "m";
  return PrivateMounts() &&
         ::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

using Script = platform::FakeCardScript;

// The script of a card that answers as a sound card does but for one answer.
Script With(bool Script::*answer, bool value) {
  Script script;
  script.*answer = value;
  return script;
}

class CardsTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_ / "cards"); }
  void TearDown() override {
    UnmountCards();
    if (HasFailure())
      temp_.Keep();  // left to look into
  }

  // A card folder named id, answering as the script says; with sizeMb, a tmpfs of that size
  // holding usedMb MiB in a file (the card is empty when usedMb is 0). False when no tmpfs can be
  // had.
  bool AddCard(const std::string& id, int sizeMb = 0, int usedMb = 0, const Script& script = {}) {
    const fs::path card = dir_ / "cards" / id;
    fs::create_directories(card);
    cards_.push_back({card, id, script});
    if (sizeMb > 0) {
      if (!MountTmpfs(card, sizeMb))
        return false;
      mounted_.push_back(card);
    }
    if (usedMb > 0)
      WriteText(card / "old.dat", std::string(static_cast<std::size_t>(usedMb * kMiB), 'x'));
    return true;
  }

  // The cards go: their tmpfs are unmounted, their folders removed.
  void RemoveCards() {
    UnmountCards();
    cards_.clear();
    fs::remove_all(dir_ / "cards");
    fs::create_directories(dir_ / "cards");
  }

  // Runs the command line on the cards added so far, each sized by its file system at the time
  // the command looks at the volumes, as a real volume is.
  Result Fw(const std::vector<std::string>& args) { return RunCliInProcess(args, Volumes()); }

  // The same with the test's own output and message streams; the exit code.
  int Fw(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    return cli::RunCli(args, {.volumes = Volumes(), .out = out, .err = err});
  }

  fs::path Card(const std::string& id) const { return dir_ / "cards" / id; }

  test::TempDir temp_ = TestFolder("fwupdater_cards_");
  const fs::path dir_ = temp_.path();

 private:
  VolumesFactory Volumes() {
    return [this] {
      auto volumes = std::make_unique<platform::FakeVolumes>();
      for (const CardSetup& card : cards_)
        volumes->AddFolderCard(card.folder, card.id).script = card.script;
      return volumes;
    };
  }

  void UnmountCards() {
    for (const auto& card : mounted_)
      ::umount2(card.c_str(), MNT_DETACH);
    mounted_.clear();
  }

  struct CardSetup {
    fs::path folder;
    std::string id;
    platform::FakeCardScript script;
  };
  std::vector<CardSetup> cards_;
  std::vector<fs::path> mounted_;
};

#define REQUIRE_TMPFS(added) \
  if (!(added))              \
  GTEST_SKIP() << "no private tmpfs can be mounted here"

TEST_F(CardsTest, DrivesListsEveryCardAsTextAndJson) {
  const Result none = Fw({"drives"});
  EXPECT_EQ(none.code, 0);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err, Printed(std::string(texts::kNoCards)));
  EXPECT_EQ(Fw({"drives", "--json"}).out, "[]\n");

  REQUIRE_TMPFS(AddCard("sdb1", 8));
  REQUIRE_TMPFS(AddCard("sdc1", 4, 1));
  const Result text = Fw({"drives"});
  EXPECT_EQ(text.code, 0) << text.err;
  EXPECT_EQ(text.out,
            "sdb1:  Метка:CARD (FAT)  Размер: 8M  Свободно: 8M\n"
            "sdc1:  Метка:CARD (FAT)  Размер: 4M  Свободно: 3M\n");

  const Result json = Fw({"drives", "--json"});
  EXPECT_EQ(json.code, 0) << json.err;
  const std::string root = Card("sdc1").string();
  const std::string second =
      "  {\n"
      "    \"id\": \"sdc1\",\n"
      "    \"root_path\": \"" +
      root +
      "\",\n"
      "    \"label\": \"CARD\",\n"
      "    \"file_system\": \"FAT\",\n"
      "    \"free_available\": 3145728,\n"
      "    \"total_free\": 3145728,\n"
      "    \"total_size\": 4194304,\n"
      "    \"size_mb\": 4,\n"
      "    \"key\": \"" +
      root +
      "\",\n"
      "    \"text\": \"sdc1:  Метка:CARD (FAT)  Размер: 4M  Свободно: 3M\"\n"
      "  }\n"
      "]\n";
  ASSERT_GE(json.out.size(), second.size());
  EXPECT_EQ(json.out.substr(json.out.size() - second.size()), second) << json.out;
  EXPECT_EQ(json.out.rfind("[\n  {\n    \"id\": \"sdb1\",\n", 0), 0u) << json.out;
}

TEST_F(CardsTest, PrepareWithYesFormatsTheCardAndWritesItsDataFile) {
  REQUIRE_TMPFS(AddCard("sdb1", 8, 1));
  const Result r = Fw({"prepare", "sdb1", "--size-mb", "4", "--extended-mb", "1", "--yes"});
  ASSERT_EQ(r.code, 0) << r.err;

  const std::string path = (Card("sdb1") / "data.rgd").string();
  const std::string card = ReadText(path);
  ASSERT_EQ(card.size(), 4u * kMiB);
  // DataPages 8191, Reserved 0 0, SessionsStart 0, SessionsPages 200, ExtendedStart 200,
  // ExtendedPages 2048, MainStart 2248, MainPages 5943, all little-endian; zero pages after.
  const std::string header = std::string("NUBRA-7Q\0\0\x01\x04", 12) +
                             std::string(
                                 "\xFF\x1F\0\0\0\0\0\0\0\0\0\0\0\0\0\0"
                                 "\xC8\0\0\0\xC8\0\0\0\0\x08\0\0\xC8\x08\0\0\x37\x17\0\0",
                                 36);
  EXPECT_EQ(card.substr(0, 48), header);
  EXPECT_EQ(card.find_first_not_of('\0', 512), std::string::npos);

  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind(Printed(std::string(texts::kFormatConfirm)), 0), 0u) << r.err;
  const std::string done = Printed(
      FormatMessage(texts::kFormatDone, {path, std::int64_t{4 * kMiB}, std::int64_t{8191}}));
  ASSERT_GE(r.err.size(), done.size());
  EXPECT_EQ(r.err.substr(r.err.size() - done.size()), done) << r.err;
}

TEST_F(CardsTest, PrepareAsksOnlyAboutACardThatHoldsDataAndRefusesWhatCannotBeDone) {
  struct Case {
    const char* name;
    int usedMb;  // on a card of 8 MiB
    Script script;
    std::vector<std::string> args;  // after "prepare"
    int code;
    std::vector<std::string> said;  // on stderr, in this order
    bool asked;                     // the format question was put
    std::int64_t fileBytes;         // of data.rgd; 0: no file
  };
  const std::string question = Printed(std::string(texts::kFormatConfirm));
  const std::string unconfirmed = Printed(std::string(texts::kPrepareNotConfirmed));
  const std::string formatFailed = Printed(std::string(texts::kStatusFormatFailed));
  const Case cases[] = {
      {"not confirmed", 1, {}, {"sdb1", "--size-mb", "2"}, 1, {unconfirmed}, true, 0},
      {"empty card", 0, {}, {"sdb1", "--size-mb", "2"}, 0, {}, false, 2 * kMiB},
      {"kept file system",
       1,
       {},
       {"sdb1", "--size-mb", "2", "--no-format"},
       0,
       {},
       false,
       2 * kMiB},
      {"format fails",
       1,
       With(&Script::formatSucceeds, false),
       {"sdb1", "--yes"},
       1,
       {formatFailed,
        Printed(FormatMessage(texts::kFormatFailedBecause, {std::string("Format cancelled")}))},
       true,
       0},
      // The format leaves 5 MiB of the 8 free: the file takes the whole free space.
      {"size above the free space",
       3,
       {},
       {"sdb1", "--size-mb", "7", "--yes"},
       0,
       {},
       true,
       5 * kMiB},
      {"size above the card",
       1,
       {},
       {"sdb1", "--size-mb", "9", "--yes"},
       1,
       {Printed(FormatMessage(texts::kOptionOutOfRange,
                              {std::string("--size-mb"), std::uint64_t{9}, std::uint64_t{1},
                               std::uint64_t{8}, std::string("sdb1")}))},
       false,
       0},
      {"free space unknown",
       0,
       With(&Script::freeSpaceFails, true),
       {"sdb1", "--size-mb", "2"},
       1,
       {Printed(FormatMessage(texts::kFreeSpaceFailed, {std::string("sdb1")}))},
       false,
       0},
      {"not removable",
       1,
       With(&Script::notRemovable, true),
       {"sdb1", "--yes"},
       1,
       {Printed(std::string(texts::kDriveNotRemovable))},
       true,
       0},
      {"unknown drive",
       0,
       {},
       {"sdz9"},
       1,
       {Printed(FormatMessage(texts::kUnknownDrive, {std::string("sdz9"), std::string("sdb1")}))},
       false,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RemoveCards();
    REQUIRE_TMPFS(AddCard("sdb1", 8, c.usedMb, c.script));
    std::vector<std::string> args = {"prepare"};
    args.insert(args.end(), c.args.begin(), c.args.end());

    const Result r = Fw(args);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_EQ(r.err.find(question) != std::string::npos, c.asked) << r.err;
    std::size_t at = 0;
    for (const auto& text : c.said) {
      at = r.err.find(text, at);
      EXPECT_NE(at, std::string::npos) << text << " in\n" << r.err;
    }
    const fs::path file = Card("sdb1") / "data.rgd";
    EXPECT_EQ(fs::exists(file) ? static_cast<std::int64_t>(fs::file_size(file)) : 0, c.fileBytes);
    if (c.usedMb > 0) {  // the fake format leaves the card's files alone
      EXPECT_EQ(fs::file_size(Card("sdb1") / "old.dat"),
                static_cast<std::uintmax_t>(c.usedMb * kMiB));
    }
  }
}

// ---- An existing card data file ------------------------------------------------------------

// A card data file as `create` makes it, with a page that stands for an entry, so that a card
// made again with the same sizes would not pass for the old one.
std::string MakeOldCard(const fs::path& dir, const fs::path& path, int sizeMb) {
  const Result r =
      RunFwupdater(dir, {"create", path.string(), "--size-mb", std::to_string(sizeMb)});
  EXPECT_EQ(r.code, 0) << r.err;
  std::string card = ReadText(path);
  card.replace(201 * 512, 16, "an entry's page!");
  WriteText(path, card);
  return card;
}

// Without a format, prepare replaces an existing data.rgd only with --force; the replaced file's
// space counts as free. (With a format the card's files are gone; the fake format keeps them.)
TEST_F(CardsTest, PrepareWithoutFormatKeepsAnExistingCardUnlessForced) {
  struct Case {
    std::vector<std::string> args;  // after "prepare sdb1"
    int code;
    bool kept;
  };
  const Case cases[] = {
      {{"--no-format"}, 1, true},
      {{"--no-format", "--size-mb", "2"}, 1, true},
      {{"--no-format", "--force"}, 0, false},
      {{"--yes"}, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args.back() : ""));
    RemoveCards();
    REQUIRE_TMPFS(AddCard("sdb1", 8));
    const fs::path path = Card("sdb1") / "data.rgd";
    const std::string old = MakeOldCard(dir_, path, 6);
    std::vector<std::string> args = {"prepare", "sdb1"};
    args.insert(args.end(), c.args.begin(), c.args.end());

    const Result r = Fw(args);
    EXPECT_EQ(r.code, c.code) << r.err;
    if (c.kept) {
      EXPECT_EQ(r.err, Printed(FormatMessage(texts::kCardFileExists, {path.string()})));
      EXPECT_TRUE(ReadText(path) == old) << "the old card changed";
      continue;
    }
    // The whole card: the 2 MiB free and the 6 MiB of the old file; DataPages 16383.
    const std::string card = ReadText(path);
    ASSERT_EQ(card.size(), 8u * kMiB);
    EXPECT_EQ(card.substr(12, 4), std::string("\xFF\x3F\0\0", 4));
    EXPECT_EQ(card.find_first_not_of('\0', 512), std::string::npos);
  }
}

// create --force checks everything it can before the old card is touched: a refusal leaves it
// byte for byte. The card's folder is a 6 MiB file system holding a 4 MiB card.
TEST_F(CardsTest, CreateForceRefusesBeforeTouchingTheOldCard) {
  REQUIRE_TMPFS(AddCard("sdb1", 6));
  const fs::path path = Card("sdb1") / "data.rgd";
  const std::string cannotCreate = FormatMessage(texts::kCannotCreateFile, {path.string()});
  struct Case {
    const char* what;
    std::vector<std::string> size;
    std::string err;  // the start of stderr; empty: created
    bool readOnly = false;
    bool locked = false;
  };
  const Case cases[] = {
      {"no room: 2 MiB free and 4 MiB in the old card",
       {"--size-mb", "8"},
       Printed(FormatMessage(texts::kCardNoRoom,
                             {path.string(), std::uint64_t{8 * kMiB}, std::uint64_t{6 * kMiB}}))},
      {"unsound sizes",
       {"--pages", "100", "--extended-mb", "1"},
       Printed(FormatMessage(texts::kSectionsDoNotFit, {std::uint64_t{2248}, std::uint64_t{99}}))},
      {"a read-only file system", {"--size-mb", "2"}, cannotCreate, true},
      {"held by another writer", {"--size-mb", "2"}, cannotCreate, false, true},
      {"room with the old card's space", {"--size-mb", "5"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(path);
    const std::string old = MakeOldCard(dir_, path, 4);
    const auto remount = [this](unsigned long readOnly) {
      return ::mount(nullptr, Card("sdb1").c_str(), nullptr,
                     MS_REMOUNT | MS_NOSUID | MS_NODEV | readOnly, nullptr);
    };
    if (c.readOnly) {
      ASSERT_EQ(remount(MS_RDONLY), 0) << std::strerror(errno);
    }
    const int lock = c.locked ? ::open(path.c_str(), O_RDWR) : -1;
    if (c.locked) {
      ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    }
    std::vector<std::string> args = {"create", path.string(), "--force"};
    args.insert(args.end(), c.size.begin(), c.size.end());

    const Result r = RunFwupdater(dir_, args);
    if (lock >= 0)
      ::close(lock);
    if (c.readOnly) {
      ASSERT_EQ(remount(0), 0) << std::strerror(errno);
    }
    if (c.err.empty()) {
      EXPECT_EQ(r.code, 0) << r.err;
      EXPECT_EQ(fs::file_size(path), 5u * kMiB);
      continue;
    }
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    EXPECT_TRUE(ReadText(path) == old) << "the old card changed";
  }
}

// A stream that keeps what it held when it was last flushed while SIGTERM was caught.
class FlushedWhileCaught : public std::stringbuf {
 public:
  std::string text;

 protected:
  int sync() override {
    struct sigaction now {};
    ::sigaction(SIGTERM, nullptr, &now);
    if (now.sa_handler != SIG_DFL)
      text = str();
    return std::stringbuf::sync();
  }
};

// A stop signal after the file is complete but before its message is out would kill the process
// with a complete card and no word of it: `create` and `prepare` flush their closing message
// while SIGTERM is still caught.
TEST_F(CardsTest, TheClosingMessageIsOutBeforeTheStopSignalsGoBack) {
  REQUIRE_TMPFS(AddCard("sdb1", 8));
  ASSERT_EQ(std::signal(SIGTERM, SIG_DFL), SIG_DFL);
  const std::string rgd = (dir_ / "c.rgd").string();
  const std::string onCard = (Card("sdb1") / "data.rgd").string();
  const struct {
    const char* what;
    std::vector<std::string> args;
    bool onOut;  // the message goes to the output stream, else to the message stream
    std::string message;
  } cases[] = {
      {"create",
       {"create", rgd, "--size-mb", "2", "--extended-mb", "1"},
       true,
       FormatMessage(texts::kCardFileCreated, {rgd, std::uint64_t{2 * kMiB}, std::uint64_t{4095}})},
      {"prepare",
       {"prepare", "sdb1", "--no-format", "--size-mb", "2", "--extended-mb", "1"},
       false,
       FormatMessage(texts::kFormatDone, {onCard, std::int64_t{2 * kMiB}, std::int64_t{4095}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FlushedWhileCaught outBuffer, errBuffer;
    std::ostream out(&outBuffer), err(&errBuffer);
    ASSERT_EQ(Fw(c.args, out, err), 0) << errBuffer.str();
    const std::string& flushed = c.onOut ? outBuffer.text : errBuffer.text;
    EXPECT_NE(flushed.find(Printed(c.message)), std::string::npos) << flushed;
    EXPECT_EQ(std::signal(SIGTERM, SIG_DFL), SIG_DFL) << "the handler stayed";
  }
}

TEST_F(CardsTest, EjectSaysWhetherTheCardMayBePulledOut) {
  AddCard("sdb1");
  AddCard("sdc1", 0, 0, With(&Script::ejectSucceeds, false));
  struct Case {
    fs::path path;
    int code;
    std::string err;
  };
  const Case cases[] = {
      {Card("sdb1") / "data.rgd", 0,
       Printed(FormatMessage(texts::kEjectDone, {std::string("sdb1")}))},
      {Card("sdc1") / "data.rgd", 1,
       Printed(FormatMessage(texts::kEjectFailed, {std::string("sdc1:")}))},
      // A path on no card: nothing released, and a script learns it from the exit code.
      {dir_ / "data.rgd", 1,
       Printed(FormatMessage(texts::kPathOnNoCard, {(dir_ / "data.rgd").string()}))},
  };
  for (const Case& c : cases) {
    const Result r = Fw({"eject", c.path.string()});
    EXPECT_EQ(r.code, c.code) << c.path;
    EXPECT_EQ(r.err, c.err) << c.path;
    EXPECT_EQ(r.out, "") << c.path;
  }
}

// A listening socket standing for the system bus: tells whether anyone connected to it.
class BusSocket {
 public:
  explicit BusSocket(const fs::path& path)
      : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    listening_ = fd_ >= 0 &&
                 ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                 ::listen(fd_, 8) == 0;
  }
  ~BusSocket() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  BusSocket(const BusSocket&) = delete;
  BusSocket& operator=(const BusSocket&) = delete;

  bool Listening() const { return listening_; }
  bool Connected() const {
    const int client = ::accept(fd_, nullptr, nullptr);  // the socket never blocks
    if (client < 0)
      return false;
    ::close(client);
    return true;
  }

 private:
  int fd_;
  bool listening_ = false;
};

TEST_F(CardsTest, OnlyTheCardCommandsUseTheSystemBusAndEndClearlyWithoutIt) {
  const Environment noBus = {{"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus"}};
  const std::string unreachable(
      texts::kVolumeServiceUnreachable.substr(0, texts::kVolumeServiceUnreachable.find('%')));
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"drives"}, {"drives", "--json"}, {"prepare", "sdb1", "--yes"}, {"eject", "x.rgd"}}) {
    const Result r = RunFwupdater(dir_, args, noBus);
    EXPECT_EQ(r.code, 1) << args[0] << ": " << r.err;
    EXPECT_EQ(r.err.rfind(unreachable, 0), 0u) << args[0] << ": " << r.err;
    EXPECT_EQ(r.out, "") << args[0];
  }

  // The socket's path stays below the 108 bytes that a socket address holds.
  const fs::path socket = dir_ / "bus";
  const BusSocket bus(socket);
  ASSERT_TRUE(bus.Listening()) << socket;
  const std::string address = "unix:path=" + socket.string();
  const Environment trap = {{"DBUS_SYSTEM_BUS_ADDRESS", address},
                            {"DBUS_SESSION_BUS_ADDRESS", address}};
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"create", "c.rgd", "--pages", "4096"},
                                             {"list", "c.rgd"},
                                             {"verify", "c.rgd", "--json"},
                                             {"devices", "--catalogue", "none.dat"},
                                             {"hexinfo", "none.hex"},
                                             {"write", "c.rgd", "--hex", "none.hex"},
                                             {"extract", "c.rgd", "--entry", "1", "--out", "x"},
                                             {"--help"}}) {
    RunFwupdater(dir_, args, trap);
    EXPECT_FALSE(bus.Connected()) << args[0];
  }
}

}  // namespace
}  // namespace fw
