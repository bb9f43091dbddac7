#include "cli/cli_common.h"

namespace fw::cli {

std::string CommaSeparated(std::span<const std::string_view> texts) {
  std::string out;
  for (const auto text : texts) {
    if (!out.empty())
      out += ", ";
    out += text;
  }
  return out;
}

std::string TerminalText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool pair = i + 1 < text.size() && ((text[i] == '\n' && text[i + 1] == '\r') ||
                                              (text[i] == '\r' && text[i + 1] == '\n'));
    if (pair) {
      out += '\n';
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

int StderrPresenter::Show(std::string_view /*caption*/, std::string_view text,
                          const MessageStyle& style) {
  err_ << TerminalText(text) << '\n';
  switch (style.buttons) {
    case MessageButtons::YesNo:
      return yes_ ? kIdYes : kIdNo;
    case MessageButtons::RetryCancel:
      return kIdCancel;
    case MessageButtons::Ok:
      return kIdOk;
  }
  return kIdOk;
}

}  // namespace fw::cli
