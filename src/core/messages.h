// User messages: the four kinds of message box, the button codes, the formatting of a message
// and the display of a failure. The front ends implement MessagePresenter with real boxes
// (GUI), stderr (CLI) or a recorder (tests).
#pragma once

#include <exception>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/message_format.h"

namespace fw {

enum TMessageKind : int {
  mkInformation = 0,
  mkWarning = 1,
  mkError = 2,
  mkQuestion = 3,
};

// Button codes returned by a message box; 0 means that nothing was shown.
inline constexpr int kIdNone = 0;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdRetry = 4;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

enum class MessageIcon { Information, Warning, Error, Question };
enum class MessageButtons { Ok, RetryCancel, YesNo };

// How a box of one kind looks: icon, buttons, default button.
struct MessageStyle {
  MessageIcon icon;
  MessageButtons buttons;
  int defaultButton;  // button code
};

// The style of a kind, or nothing for a kind outside 0..3 (such a message is not shown).
std::optional<MessageStyle> StyleOfKind(int kind);

class MessagePresenter {
 public:
  virtual ~MessagePresenter() = default;
  // Shows the text modally with the caption in the style of the kind; returns the button code.
  virtual int Show(std::string_view caption, std::string_view text, const MessageStyle& style) = 0;
};

// Formats the template with the arguments and shows it with the application title as caption.
// A kind outside 0..3 shows nothing and returns 0.
int UserMessage(MessagePresenter& presenter, std::string_view format,
                std::span<const MessageArg> args, int kind);
inline int UserMessage(MessagePresenter& presenter, std::string_view format, int kind) {
  return UserMessage(presenter, format, {}, kind);
}

// The text shown for a failure: the message, with "." appended when its last character sorts
// after "." (a letter or a digit); an empty text stays empty.
std::string ExceptionDisplayText(std::string_view message);

// Shows a failure with the application title: a refusal (ERefusal) as it is, in the style of its
// kind; any other failure in an error box (error icon, OK) with ExceptionDisplayText.
void ReportException(MessagePresenter& presenter, const std::exception& error);

// Runs a command; any failure that leaves it is shown by ReportException. Returns whether the
// command completed.
template <typename Command>
bool RunCommand(MessagePresenter& presenter, Command&& command) {
  try {
    command();
    return true;
  } catch (const std::exception& error) {
    ReportException(presenter, error);
    return false;
  }
}

}  // namespace fw
