#pragma once
// For tests: a window that shows nothing and keeps the texts of its message
// boxes.
#include <string>
#include <vector>

#include "platform/window.h"

namespace kavelo::testing {

class RecordingWindow : public Window {
 public:
  explicit RecordingWindow(std::vector<std::string>* boxes) : boxes_(boxes) {}
  void set_caption(const std::string&) override {}
  void set_label(Label, const std::string&) override {}
  void repaint_label(Label) override {}
  void repaint() override {}
  void do_events() override {}
  void set_hourglass(bool) override {}
  void message_box(const std::string& text) override { boxes_->push_back(text); }

 private:
  std::vector<std::string>* boxes_;
};

}  // namespace kavelo::testing
