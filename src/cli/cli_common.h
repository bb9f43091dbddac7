// Shared pieces of the command-line front end: how a command reports failure and exit codes,
// and how texts are put together for the terminal.
#pragma once

#include <span>
#include <stdexcept>
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

// Thrown by a command that has already printed what it had to say and ends with this code
// (for example `verify` finding a damaged entry). Any other exception that leaves a command is
// printed on stderr by main and ends it with kExitFailed.
struct CommandExit {
  int code;
};

// Message boxes of the command line: the text on stderr. Questions are answered by `yes`
// (a command's --yes); without it a question is answered No.
class StderrPresenter : public MessagePresenter {
 public:
  explicit StderrPresenter(bool yes = false) : yes_(yes) {}
  int Show(std::string_view caption, std::string_view text, const MessageStyle& style) override;

 private:
  bool yes_;
};

// The texts one after the other, separated by ", ".
std::string CommaSeparated(std::span<const std::string_view> texts);

// A message text for a terminal: each LF CR or CR LF pair becomes one line break.
std::string TerminalText(std::string_view text);

}  // namespace fw::cli
