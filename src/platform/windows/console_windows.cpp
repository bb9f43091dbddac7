#include <io.h>
#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string_view>

#include "platform/console.h"

namespace fw::platform {

bool IsTerminal(std::FILE* stream) {
  return stream != nullptr && ::_isatty(::_fileno(stream)) != 0;
}

namespace {

std::string Utf8OfWide(const wchar_t* text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1)
    return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.pop_back();  // the terminating zero
  return out;
}

struct LocalFreeDeleter {
  void operator()(wchar_t** p) const { ::LocalFree(p); }
};

// How much of the text ends with a whole UTF-8 character: a sequence cut by the buffer's end
// waits for its remaining bytes.
std::size_t WholeCharactersLength(std::string_view text) {
  std::size_t lead = text.size();
  std::size_t continuations = 0;
  while (lead > 0 && continuations < 3 &&
         (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80) {
    --lead;
    ++continuations;
  }
  if (lead == 0)
    return text.size();
  const auto first = static_cast<unsigned char>(text[lead - 1]);
  const std::size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
  return continuations + 1 < length ? lead - 1 : text.size();
}

// A console's stream buffer: UTF-8 gathered, written as UTF-16 with WriteConsoleW at each line's
// end, each flush and when 4 KiB have gathered.
class ConsoleBuffer final : public std::streambuf {
 public:
  explicit ConsoleBuffer(HANDLE console) : console_(console) {}
  ConsoleBuffer(const ConsoleBuffer&) = delete;
  ConsoleBuffer& operator=(const ConsoleBuffer&) = delete;
  ~ConsoleBuffer() override { sync(); }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof()))
      return sync() == 0 ? traits_type::not_eof(c) : traits_type::eof();
    const char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
  }

  std::streamsize xsputn(const char* text, std::streamsize count) override {
    const std::string_view part(text, static_cast<std::size_t>(count));
    pending_.append(part);
    if (part.find('\n') != std::string_view::npos || pending_.size() >= kFlushBytes)
      return sync() == 0 ? count : 0;
    return count;
  }

  int sync() override {
    const std::size_t whole = WholeCharactersLength(pending_);
    if (whole == 0)
      return 0;
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, pending_.data(), static_cast<int>(whole), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, pending_.data(), static_cast<int>(whole), wide.data(), size);
    pending_.erase(0, whole);
    for (std::size_t done = 0; done < wide.size();) {
      const auto chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 8192));
      DWORD written = 0;
      if (!::WriteConsoleW(console_, wide.data() + done, chunk, &written, nullptr) || written == 0)
        return -1;
      done += written;
    }
    return 0;
  }

 private:
  static constexpr std::size_t kFlushBytes = 4096;
  HANDLE console_;
  std::string pending_;
};

// A stream on a console. At the program's end the buffer writes what is left.
struct ConsoleStream {
  explicit ConsoleStream(HANDLE console) : buffer(console), stream(&buffer) {}
  ConsoleBuffer buffer;
  std::ostream stream;
};

// A stream on the console behind a standard handle; nothing when the handle is a file or a pipe.
std::unique_ptr<ConsoleStream> OpenConsoleStream(DWORD standardHandle) {
  const HANDLE handle = ::GetStdHandle(standardHandle);
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !::GetConsoleMode(handle, &mode))
    return nullptr;
  return std::make_unique<ConsoleStream>(handle);
}

}  // namespace

std::vector<std::string> CommandLineUtf8(int argc, char** argv) {
  int count = 0;
  const std::unique_ptr<wchar_t*, LocalFreeDeleter> wide(
      ::CommandLineToArgvW(::GetCommandLineW(), &count));
  if (!wide)
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i)
    args.push_back(Utf8OfWide(wide.get()[i]));
  return args;
}

std::ostream& Utf8Out() {
  static const std::unique_ptr<ConsoleStream> console = OpenConsoleStream(STD_OUTPUT_HANDLE);
  return console ? console->stream : std::cout;
}

std::ostream& Utf8Err() {
  static const std::unique_ptr<ConsoleStream> console = [] {
    auto opened = OpenConsoleStream(STD_ERROR_HANDLE);
    if (opened)
      opened->stream.setf(std::ios::unitbuf);  // like std::cerr: every output at once
    return opened;
  }();
  return console ? console->stream : std::cerr;
}

}  // namespace fw::platform
