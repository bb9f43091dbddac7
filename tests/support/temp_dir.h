// A private temporary folder for one test: made fresh under the system's temporary folder (so
// that parallel runs in several build folders never meet) and removed with everything in it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace fw::test {

class TempDir {
 public:
  // The folder is named <prefix>-XXXXXX, the Xs drawn at random; only its owner may use it.
  explicit TempDir(std::string_view prefix = "fw-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }
  std::string File(std::string_view name) const { return (path_ / name).string(); }

  // Leaves the folder in place when this object goes (to look into after a failed test).
  void Keep() { keep_ = true; }

 private:
  std::filesystem::path path_;
  bool keep_ = false;
};

}  // namespace fw::test
