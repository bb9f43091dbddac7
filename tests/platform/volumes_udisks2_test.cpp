// The UDisks2 volumes against a mock UDisks2 service (udisks2_mock.py) on a private system bus
// that every test starts and stops: real D-Bus traffic, no disks, no polkit.
#include "platform/linux/volumes_udisks2.h"

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/fat16_formatter.h"
#include "support/temp_dir.h"

extern char** environ;

namespace fw::platform {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kMiB = 1024 * 1024;
const std::string kBlocks = "/org/freedesktop/UDisks2/block_devices/";

bool Available(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::vector<std::string> Lines(const fs::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

std::string Output(const std::string& command) {
  std::string output;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  char buffer[256];
  while (pipe && std::fgets(buffer, sizeof buffer, pipe.get()))
    output += buffer;
  return output;
}

class UDisks2Test : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Available("command -v dbus-daemon") || !Available("/usr/bin/python3 -c 'import dbusmock'"))
      GTEST_SKIP() << "dbus-daemon or python3-dbusmock is missing (scripts/install-deps)";
    temp_ = std::make_unique<test::TempDir>("udisks2-test");
    root_ = temp_->path();
    fs::create_directories(root_ / "media" / "REC");
    fs::create_directories(root_ / "media" / "REC2");
    fs::create_directories(root_ / "data");
    image_ = root_ / "card.img";
    std::ofstream{image_};
    fs::resize_file(image_, 64 * kMiB);
    StartBus();
    if (!HungService())
      StartMock();
  }

  // A fixture that starts a service of its own instead of the mock.
  virtual bool HungService() const { return false; }

  void TearDown() override {
    if (mockPid_ > 0) {
      ::kill(mockPid_, SIGTERM);
      ::waitpid(mockPid_, nullptr, 0);
    }
    if (busPid_ > 0 && ::kill(busPid_, SIGTERM) == 0) {
      // The daemon removes its socket as it ends (it is no child of ours to wait for).
      for (int i = 0; i < 100 && fs::exists(root_ / "bus"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    temp_.reset();
  }

  void StartBus() {
    const auto config = root_ / "bus.conf";
    std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                             "Configuration 1.0//EN\"\n"
                             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig><type>system</type>\n"
                             "<listen>unix:path="
                          << (root_ / "bus").string()
                          << "</listen><auth>EXTERNAL</auth>\n"
                             "<policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
                             "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                             "</policy></busconfig>\n";
    const auto pid = Output("dbus-daemon --config-file=" + config.string() + " --fork --print-pid");
    ASSERT_FALSE(pid.empty()) << "dbus-daemon did not start";
    busPid_ = std::stoi(pid);
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + (root_ / "bus").string()).c_str(), 1);
  }

  // `extra` is added to the mock's parameters (JSON members, each with a leading comma).
  void StartMock(const std::string& extra = {}) {
    const auto parameters = "{\"root\": \"" + root_.string() + "\", \"image\": \"" +
                            image_.string() + "\", \"journal\": \"" + Journal().string() +
                            "\", \"ready\": \"" + (root_ / "ready").string() + "\"" + extra + "}";
    const std::string script = FW_SOURCE_DIR "/tests/platform/udisks2_mock.py";
    Spawn({"/usr/bin/python3", "-m", "dbusmock", "--template", script, "-p", parameters});
  }

  // Starts a service process with its output in mock.log and waits for its "ready" file.
  void Spawn(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (auto& argument : arguments)
      argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (root_ / "mock.log").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    ASSERT_EQ(::posix_spawn(&mockPid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; i < 200 && !fs::exists(root_ / "ready"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream log(root_ / "mock.log");
    ASSERT_TRUE(fs::exists(root_ / "ready"))
        << "the mock UDisks2 did not start: "
        << std::string(std::istreambuf_iterator<char>(log), {});
  }

  fs::path Journal() const { return root_ / "journal"; }

  VolumeInfo Volume(const std::string& device) const {
    VolumeInfo volume;
    volume.id = device;
    volume.key = kBlocks + device;
    return volume;
  }

  std::unique_ptr<test::TempDir> temp_;  // made once the mock can run
  fs::path root_;
  fs::path image_;
  pid_t busPid_ = 0;
  pid_t mockPid_ = 0;
};

TEST_F(UDisks2Test, ListsTheCardsOfRemovableDrivesWithAMediumOnly) {
  UDisks2Volumes volumes;
  const auto list = volumes.List();

  std::vector<std::string> ids;
  for (const auto& volume : list)
    ids.push_back(volume.id);
  // Not the system disk, the fixed data disk or the reader without a card.
  EXPECT_EQ(ids, (std::vector<std::string>{"mmcblk0p1", "sdb1", "sdd1"}));
  ASSERT_EQ(list.size(), 3u);

  const auto& mounted = list[1];
  EXPECT_EQ(mounted.label, "REC");
  EXPECT_EQ(mounted.fileSystem, "vfat FAT16");
  EXPECT_EQ(mounted.rootPath, (root_ / "media" / "REC").string());
  EXPECT_EQ(mounted.key, kBlocks + "sdb1");
  const auto space = fs::space(mounted.rootPath);
  EXPECT_EQ(mounted.totalSize, static_cast<std::int64_t>(space.capacity));
  EXPECT_GT(mounted.freeAvailable, 0);
  EXPECT_GE(mounted.totalFree, mounted.freeAvailable);

  const auto& unmounted = list[0];
  EXPECT_EQ(unmounted.rootPath, "");
  EXPECT_EQ(unmounted.totalSize, 4096 * kMiB);
  EXPECT_EQ(unmounted.freeAvailable, 0);
  EXPECT_EQ(unmounted.totalFree, 0);
  EXPECT_TRUE(Lines(Journal()).empty()) << "listing must not act on any volume";
}

// The reason an operation gave for failing; a failure of the test when it succeeded.
template <typename Operation>
std::string ReasonOfFailure(Operation operation) {
  try {
    operation();
  } catch (const VolumeOperationFailed& failure) {
    return failure.what();
  }
  ADD_FAILURE() << "the operation succeeded";
  return {};
}

TEST_F(UDisks2Test, EnsureMountedMountsOnlyWhatIsNotMounted) {
  UDisks2Volumes volumes;

  EXPECT_EQ(volumes.EnsureMounted(Volume("sdb1"), Interaction::Forbidden),
            (root_ / "media" / "REC").string());
  EXPECT_EQ(volumes.EnsureMounted(Volume("mmcblk0p1"), Interaction::Forbidden),
            (root_ / "media" / "BIG").string());
  // The system disk is no removable volume.
  EXPECT_FALSE(ReasonOfFailure([&] {
                 volumes.EnsureMounted(Volume("sda1"), Interaction::Forbidden);
               }).empty());

  EXPECT_EQ(Lines(Journal()), (std::vector<std::string>{"mmcblk0p1 Mount forbidden"}));
}

TEST_F(UDisks2Test, VolumeOfPathTakesTheCardWhoseMountPointHoldsThePath) {
  UDisks2Volumes volumes;
  const struct {
    fs::path path;
    std::optional<std::string> id;
  } cases[] = {
      {root_ / "media" / "REC" / "data.rgd", "sdb1"},
      {root_ / "media" / "REC", "sdb1"},
      {root_ / "media" / "REC2" / "sub" / "data.rgd", "sdd1"},
      {root_ / "media" / "RECX" / "data.rgd", std::nullopt},  // a name that only starts alike
      {root_ / "media" / "REC2" / ".." / "REC" / "data.rgd", "sdb1"},
      {root_ / "data" / "data.rgd", std::nullopt},  // a fixed disk
      {"/etc/passwd", std::nullopt},                // the system disk
  };
  for (const auto& c : cases) {
    const auto volume = volumes.VolumeOfPath(c.path);
    EXPECT_EQ(volume ? std::optional(volume->id) : std::nullopt, c.id) << c.path;
  }
}

TEST_F(UDisks2Test, EjectUnmountsThenEjectsTheMediumOfTheDrive) {
  UDisks2Volumes volumes;

  volumes.Eject(Volume("sdb1"), Interaction::Forbidden);

  EXPECT_EQ(Lines(Journal()),
            (std::vector<std::string>{"sdb1 Unmount forbidden", "Card_Reader Eject forbidden"}));
}

TEST_F(UDisks2Test, ABusyVolumeFailsToEjectAndStaysMounted) {
  UDisks2Volumes volumes;

  const std::string reason =
      ReasonOfFailure([&] { volumes.Eject(Volume("sdd1"), Interaction::Allowed); });
  EXPECT_NE(reason.find("DeviceBusy"), std::string::npos) << reason;

  EXPECT_EQ(Lines(Journal()), (std::vector<std::string>{"sdd1 Unmount"}));
  const auto list = volumes.List();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[2].rootPath, (root_ / "media" / "REC2").string());
}

TEST_F(UDisks2Test, FormatWritesFat16ThroughTheDeviceUDisks2Opens) {
  UDisks2Volumes volumes;

  volumes.FormatFat16(Volume("sdb1"), Interaction::Forbidden);

  EXPECT_EQ(
      Lines(Journal()),
      (std::vector<std::string>{"sdb1 Unmount forbidden", "sdb1 OpenDevice rw forbidden flags=128",
                                "sdb1 Rescan forbidden", "sdb1 Mount forbidden"}));
  ::setenv("MTOOLS_SKIP_CHECK", "1", 1);
  EXPECT_EQ(std::system(("fsck.fat -n " + image_.string() + " >/dev/null").c_str()), 0);
  const auto info = Output("minfo -i " + image_.string() + " ::");
  EXPECT_NE(info.find("disk type=\"FAT16   \""), std::string::npos) << info;
  EXPECT_NE(info.find("disk label=\"REC        \""), std::string::npos) << info;
  EXPECT_NE(info.find("hidden sectors: 8192"), std::string::npos) << info;
}

TEST_F(UDisks2Test, FormatRefusesWhatItMustNotTouch) {
  UDisks2Volumes volumes;

  // 4 GiB: more than FAT16 with 32 KiB clusters covers.
  const std::string tooLarge =
      ReasonOfFailure([&] { volumes.FormatFat16(Volume("mmcblk0p1"), Interaction::Forbidden); });
  EXPECT_NE(tooLarge.find("too large for FAT16"), std::string::npos) << tooLarge;
  // The system disk is no removable volume.
  EXPECT_THROW(volumes.FormatFat16(Volume("sda1"), Interaction::Forbidden), VolumeNotRemovable);
  // A busy volume cannot be unmounted, so nothing is written.
  const std::string busy =
      ReasonOfFailure([&] { volumes.FormatFat16(Volume("sdd1"), Interaction::Forbidden); });
  EXPECT_NE(busy.find("DeviceBusy"), std::string::npos) << busy;

  EXPECT_EQ(Lines(Journal()), (std::vector<std::string>{"sdd1 Unmount forbidden"}));
}

TEST_F(UDisks2Test, AFormatThatCannotOpenTheDeviceLeavesTheCardMounted) {
  UDisks2Volumes volumes;
  fs::remove(image_);  // the mock's OpenDevice now fails, as when authorisation is refused

  EXPECT_FALSE(
      ReasonOfFailure([&] { volumes.FormatFat16(Volume("sdb1"), Interaction::Allowed); }).empty());

  EXPECT_EQ(Lines(Journal()), (std::vector<std::string>{
                                  "sdb1 Unmount", "sdb1 OpenDevice rw flags=128", "sdb1 Mount"}));
  EXPECT_EQ(volumes.List()[1].rootPath, (root_ / "media" / "REC").string());
}

// Every call to the service has a time limit: a service that takes the call and never answers
// ends it with the service's error, well before the D-Bus default would.
class UDisks2HungTest : public UDisks2Test {
 protected:
  bool HungService() const override { return true; }

  // Owns the UDisks2 name on the bus and reads none of its messages.
  void StartSilentService() {
    Spawn({"/usr/bin/python3", "-c",
           "import dbus, sys, time\n"
           "bus = dbus.SystemBus()\n"
           "bus.request_name('org.freedesktop.UDisks2')\n"
           "open(sys.argv[1], 'w').close()\n"
           "time.sleep(3600)\n",
           (root_ / "ready").string()});
  }

  static constexpr UDisks2Timeouts kShort{std::chrono::milliseconds(300),
                                          std::chrono::milliseconds(300)};
  // Far below the D-Bus default of 25 s and far above the limits: the call did not wait for an
  // answer that never comes.
  static constexpr auto kBound = std::chrono::seconds(10);
};

TEST_F(UDisks2HungTest, QueriesOfASilentServiceEndWithTheServiceError) {
  StartSilentService();
  UDisks2Volumes volumes(kShort);
  const auto expectServiceError = [](auto operation) {
    const auto start = std::chrono::steady_clock::now();
    try {
      operation();
      ADD_FAILURE() << "the call succeeded";
    } catch (const VolumeServiceError& error) {
      EXPECT_NE(std::string(error.what()).find("UDisks2 did not list its objects: "),
                std::string::npos)
          << error.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, kBound);
  };
  expectServiceError([&] { volumes.List(); });
  expectServiceError([&] { volumes.EnsureMounted(Volume("sdc1"), Interaction::Forbidden); });
  expectServiceError([&] { volumes.Eject(Volume("sdb1"), Interaction::Forbidden); });
}

// An action waits longer (a password may be asked for), but not without end either.
TEST_F(UDisks2HungTest, AnActionThatGetsNoAnswerFailsWithinItsLimit) {
  StartMock(", \"hang\": \"Mount\"");
  UDisks2Volumes volumes(kShort);
  const auto start = std::chrono::steady_clock::now();
  const std::string reason =
      ReasonOfFailure([&] { volumes.EnsureMounted(Volume("mmcblk0p1"), Interaction::Forbidden); });
  EXPECT_NE(reason.find("Timeout"), std::string::npos) << reason;
  EXPECT_LT(std::chrono::steady_clock::now() - start, kBound);
}

// A bus socket that takes the connection (the kernel queues it) and never speaks: the connection
// itself has the query's limit.
TEST_F(UDisks2HungTest, ABusThatNeverAnswersFailsWithinTheLimit) {
  const fs::path socketPath = root_ / "silent-bus";
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + socketPath.string()).c_str(), 1);

  const auto start = std::chrono::steady_clock::now();
  try {
    UDisks2Volumes volumes(kShort);
    ADD_FAILURE() << "connected to a bus that never answers";
  } catch (const VolumeServiceError& error) {
    EXPECT_NE(std::string(error.what()).find("cannot reach the system bus at unix:path="),
              std::string::npos)
        << error.what();
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, kBound);
  ::close(listener);
}

}  // namespace
}  // namespace fw::platform
