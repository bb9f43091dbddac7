#include "core/messages.h"

#include "core/errors.h"
#include "core/texts.h"

namespace fw {

std::optional<MessageStyle> StyleOfKind(int kind) {
  switch (kind) {
    case mkInformation:
      return MessageStyle{MessageIcon::Information, MessageButtons::Ok, kIdOk};
    case mkWarning:
      return MessageStyle{MessageIcon::Warning, MessageButtons::RetryCancel, kIdRetry};
    case mkError:
      return MessageStyle{MessageIcon::Error, MessageButtons::Ok, kIdOk};
    case mkQuestion:
      return MessageStyle{MessageIcon::Question, MessageButtons::YesNo, kIdNo};
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
  if (const auto* refusal = dynamic_cast<const ERefusal*>(&error)) {
    if (const auto style = StyleOfKind(refusal->Kind()))
      presenter.Show(texts::kApplicationTitle, refusal->what(), *style);
    return;
  }
  presenter.Show(texts::kApplicationTitle, ExceptionDisplayText(error.what()),
                 *StyleOfKind(mkError));
}

}  // namespace fw
