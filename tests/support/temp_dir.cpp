#include "support/temp_dir.h"

#include <random>
#include <system_error>

namespace fw::test {

namespace {

// Six letters and digits drawn at random, as mkdtemp gives them (std::filesystem only, so the
// helper works wherever the tests are built).
std::string RandomSuffix() {
  static constexpr char kAlphabet[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 2);
  std::string suffix(6, '\0');
  for (char& c : suffix)
    c = kAlphabet[pick(generator)];
  return suffix;
}

}  // namespace

TempDir::TempDir(std::string_view prefix) {
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = base / (std::string(prefix) + "-" + RandomSuffix());
    // create_directory is false when the name is taken: another run's folder, so try again.
    if (std::filesystem::create_directory(candidate)) {
      std::filesystem::permissions(candidate, std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::replace);
      path_ = std::move(candidate);
      return;
    }
  }
  throw std::system_error(std::make_error_code(std::errc::file_exists),
                          "no fresh temporary folder for " + std::string(prefix));
}

TempDir::~TempDir() {
  if (keep_)
    return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace fw::test
