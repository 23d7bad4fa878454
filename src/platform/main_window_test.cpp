#include <gtest/gtest.h>

#include "platform/window.h"

namespace kavelo {
namespace {

class RecordingWindow : public Window {
 public:
  explicit RecordingWindow(std::string& caption) : caption_(caption) {}
  void set_caption(const std::string& text) override { caption_ = text; }
  void set_label(Label, const std::string&) override {}
  void repaint_label(Label) override {}
  void repaint() override {}
  void do_events() override {}
  void set_hourglass(bool) override {}
  void message_box(const std::string&) override {}

 private:
  std::string& caption_;
};

TEST(MainWindow, IsATerminalWindowUntilOneIsSet) {
  Window& first = main_window();
  EXPECT_EQ(&main_window(), &first);

  std::string caption;
  auto recording = std::make_unique<RecordingWindow>(caption);
  Window* set = recording.get();
  set_main_window(std::move(recording));
  EXPECT_EQ(&main_window(), set);
  main_window().set_caption("Doveduzi Kavelo");
  EXPECT_EQ(caption, "Doveduzi Kavelo");

  set_main_window(nullptr);
  EXPECT_EQ(dynamic_cast<RecordingWindow*>(&main_window()), nullptr);
}

}  // namespace
}  // namespace kavelo
