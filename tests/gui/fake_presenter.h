// A message presenter for the window tests: records every box and answers from a queue
// (or with the box's default button when the queue is empty).
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/messages.h"

namespace fw::gui::test {

struct ShownMessage {
  std::string caption;
  std::string text;
  MessageStyle style;
};

class FakePresenter : public MessagePresenter {
 public:
  int Show(std::string_view caption, std::string_view text, const MessageStyle& style) override {
    shown.push_back({std::string(caption), std::string(text), style});
    if (onShow)
      onShow();
    if (answers.empty())
      return style.defaultButton;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }

  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& message : shown)
      texts.push_back(message.text);
    return texts;
  }

  std::vector<ShownMessage> shown;
  std::deque<int> answers;
  std::function<void()> onShow;
};

}  // namespace fw::gui::test
