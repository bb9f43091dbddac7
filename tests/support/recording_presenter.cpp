#include "support/recording_presenter.h"

namespace fw::test {

int RecordingPresenter::Show(std::string_view caption, std::string_view text,
                             const MessageStyle& style) {
  shown.push_back({std::string(caption), std::string(text), style});
  if (onShow)
    onShow();
  if (!answers.empty()) {
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  if (everyQuestion && style.buttons == MessageButtons::YesNo)
    return *everyQuestion;
  return style.defaultButton;
}

std::vector<std::string> RecordingPresenter::Texts() const {
  std::vector<std::string> texts;
  for (const auto& message : shown)
    texts.push_back(message.text);
  return texts;
}

}  // namespace fw::test
