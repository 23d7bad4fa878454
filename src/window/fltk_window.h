#pragma once
// The graphical window, drawn with FLTK on an X display: the logo, the first caption,
// the second caption and the progress line, an hourglass during the run and modal
// message boxes.
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/window.h"

class Fl_Box;
class Fl_Double_Window;
class Fl_RGB_Image;

namespace kavelo {

class FltkWindow final : public Window {
 public:
  // The window's client area in pixels.
  static constexpr int kWidth = 544;
  static constexpr int kHeight = 111;
  // The progress line changes with every record, thousands of times a second: the screen
  // shows it at most this often, so drawing never slows an import.
  static constexpr std::chrono::milliseconds kRefresh{100};
  // The run summary at the end: its font size and the blank around it.
  static constexpr int kSummarySize = 12;
  static constexpr int kSummaryMargin = 10;

  // The window (not shown yet), or nullptr when no display is reachable.
  static std::unique_ptr<FltkWindow> open();
  // Ends this process's connection to the display for good, so that the
  // display may go away (tests); open() gives nullptr from then on.
  static void close_display();
  ~FltkWindow() override;
  FltkWindow(const FltkWindow&) = delete;
  FltkWindow& operator=(const FltkWindow&) = delete;

  void set_caption(const std::string& text) override;
  void set_label(Label which, const std::string& text) override;
  void repaint_label(Label which) override;
  void repaint() override;
  void do_events() override;
  void set_hourglass(bool on) override;
  void message_box(const std::string& text) override;
  void show() override;
  void run_message_loop(std::chrono::milliseconds delay, const std::function<void()>& on_timer) override;
  void finish(const std::string& summary) override;

  // What the screen shows, for tests: a label's text, the caption, how often
  // The progress line was drawn, and the X window (0 while not shown).
  std::string shown_text(Label which) const;
  std::string caption() const;
  long progress_draws() const { return progress_draws_; }
  unsigned long x_window() const;
  // The run summary's table shown by finish().
  std::string summary_shown() const;

 private:
  using Clock = std::chrono::steady_clock;
  FltkWindow();
  Fl_Box* widget(Label which) const;
  // Hands a label's text to its widget, which is drawn at the next flush.
  void apply(Label which);
  void apply_progress();

  std::vector<std::uint8_t> logo_pixels_;
  std::unique_ptr<Fl_RGB_Image> logo_;
  Fl_Double_Window* window_ = nullptr;
  std::array<Fl_Box*, 3> labels_{};
  Fl_Box* summary_ = nullptr;
  std::array<std::string, 3> texts_;
  bool progress_pending_ = false;
  long progress_draws_ = 0;
  Clock::time_point progress_drawn_{};
  bool hourglass_ = false;
};

}  // namespace kavelo
