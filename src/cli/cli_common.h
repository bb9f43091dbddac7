// Shared pieces of the command-line front end: exit codes, questions on the error stream, and
// how texts are put together for the terminal.
#pragma once

#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "core/messages.h"

namespace fw::cli {

// Exit codes of every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the command failed; the system's message is on stderr
inline constexpr int kExitUsage = 2;   // the command line was wrong
// `write`: the entry was written (its ID on stdout), but reading the card back afterwards failed
// (the message on stderr). The write must not be repeated: it would add the entry twice.
inline constexpr int kExitWrittenNotReadBack = 3;

// Message boxes of the command line: the text on the error stream. Questions are answered by
// `yes` (a command's --yes); without it a question is answered No.
class StderrPresenter : public MessagePresenter {
 public:
  explicit StderrPresenter(std::ostream& err, bool yes = false) : err_(err), yes_(yes) {}
  int Show(std::string_view caption, std::string_view text, const MessageStyle& style) override;

 private:
  std::ostream& err_;
  bool yes_;
};

// The texts one after the other, separated by ", ".
std::string CommaSeparated(std::span<const std::string_view> texts);

// A message text for a terminal: each LF CR or CR LF pair becomes one line break.
std::string TerminalText(std::string_view text);

}  // namespace fw::cli
