#include "messages.h"

#include "errors.h"
#include "texts.h"

namespace fw {

std::optional<MessageStyle> StyleOfKind(int kind) {
  switch (kind) {
    case mkInformation:
      return MessageStyle{MessageIcon::Information, MessageButtons::Ok, kIdOk, 0x40};
    case mkWarning:
      return MessageStyle{MessageIcon::Warning, MessageButtons::RetryCancel, kIdRetry, 0x35};
    case mkError:
      return MessageStyle{MessageIcon::Error, MessageButtons::Ok, kIdOk, 0x10};
    case mkQuestion:
      return MessageStyle{MessageIcon::Question, MessageButtons::YesNo, kIdNo, 0x124};
    default:
      return std::nullopt;
  }
}

int UserMessage(MessagePresenter& presenter, std::string_view format,
                std::span<const MessageArg> args, int kind) {
  const auto style = StyleOfKind(kind);
  if (!style)
    return kIdNone;
  return presenter.Show(texts::kApplicationTitle, FormatMessage(format, args), *style);
}

std::string ExceptionDisplayText(std::string_view message) {
  std::string text(message);
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.')
    text += '.';
  return text;
}

void ReportException(MessagePresenter& presenter, const std::exception& error) {
  if (dynamic_cast<const EAbort*>(&error) != nullptr)
    return;
  presenter.Show(texts::kApplicationTitle, ExceptionDisplayText(error.what()),
                 *StyleOfKind(mkError));
}

}  // namespace fw
