// A message presenter for tests: records every box it is shown and answers from a queue; once
// the queue is empty, a Yes/No question gets `everyQuestion` when set, and every other box (or
// every question, when it is not set) its default button.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/messages.h"

namespace fw::test {

struct ShownMessage {
  std::string caption;
  std::string text;
  MessageStyle style;
};

class RecordingPresenter : public MessagePresenter {
 public:
  explicit RecordingPresenter(std::optional<int> everyQuestion = std::nullopt)
      : everyQuestion(everyQuestion) {}

  int Show(std::string_view caption, std::string_view text, const MessageStyle& style) override;

  // The texts of the boxes shown, in order.
  std::vector<std::string> Texts() const;

  std::vector<ShownMessage> shown;
  std::deque<int> answers;
  std::optional<int> everyQuestion;
  std::function<void()> onShow;  // called as each box is shown (a test may act while it is up)
};

}  // namespace fw::test
