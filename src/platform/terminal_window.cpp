#include <fmt/format.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "platform/window.h"

namespace kavelo {
namespace {

using Clock = std::chrono::steady_clock;

// The progress line is drawn at most this often, so drawing never slows an
// import that changes it thousands of times a second.
constexpr auto kRefresh = std::chrono::milliseconds(125);

std::size_t terminal_width() {
  winsize size{};
  return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

// `text` cut or padded with blanks to exactly `columns` characters (UTF-8),
// control characters blanked so they cannot break the line.
std::string fit(std::string_view text, std::size_t columns) {
  std::string line;
  std::size_t characters = 0;
  for (char c : text) {
    const bool starts_character = (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (starts_character && characters++ == columns) break;
    line += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
  }
  line.append(columns - std::min(characters, columns), ' ');
  return line;
}

void wait_for_enter() {
  char c = 0;
  for (;;) {
    const auto n = read(STDIN_FILENO, &c, 1);
    if ((n == 1 && c != '\n') || (n < 0 && errno == EINTR)) continue;
    return;
  }
}

class TerminalWindow final : public Window {
 public:
  TerminalWindow() : on_terminal_(isatty(STDERR_FILENO) == 1) {}
  ~TerminalWindow() override { end_progress_line(); }

  void set_caption(const std::string& text) override { caption_ = text; }

  void set_label(Label which, const std::string& text) override {
    labels_[static_cast<std::size_t>(which)] = text;
    if (which == Label::progress) progress_changed_ = true;
  }

  void repaint_label(Label which) override {
    if (which != Label::progress) return;
    ++records_;
    draw_progress();
  }

  void repaint() override { draw_progress(); }
  bool shows_labels() const override { return on_terminal_; }

  // The message loop runs before each step of the run: what the progress line shows then
  // is the step, and the records after it are counted.
  void do_events() override {
    step_ = labels_[2];
    records_ = 0;
    progress_changed_ = true;
    draw_progress(true);
  }
  void set_hourglass(bool) override {}

  void finish(const std::string& summary) override {
    end_progress_line();
    fmt::print(stderr, "{}\n", summary);
  }

  void message_box(const std::string& text) override {
    end_progress_line();
    fmt::print(stderr, "{}\n", text);
    if (isatty(STDIN_FILENO) == 1) {
      fmt::print(stderr, "Pulse Intro para continuar...");
      std::fflush(stderr);
      wait_for_enter();
    }
  }

 private:
  // A new step is drawn at once, records at most once per kRefresh.
  void draw_progress(bool new_step = false) {
    if (!on_terminal_ || !progress_changed_) return;
    const auto now = Clock::now();
    if (!new_step && now - last_drawn_ < kRefresh) return;
    progress_changed_ = false;
    std::string text = progress_text();
    if (line_open_ && text == shown_) return;
    last_drawn_ = now;
    if (!header_shown_) {
      print_header();
      header_shown_ = true;
    }
    // One column short of the width, so the cursor never wraps to a new line.
    fmt::print(stderr, "\r{}", fit(text, terminal_width() - 1));
    shown_ = std::move(text);
    line_open_ = true;
  }

  // The step, the count of its records so far and the record's own text.
  std::string progress_text() const {
    if (step_.empty() || labels_[2] == step_) return labels_[2];
    return fmt::format("{} [{}] {}", step_, records_, labels_[2]);
  }

  void print_header() {
    std::string header = caption_;
    for (const auto& label : {labels_[0], labels_[1]}) {
      if (label.empty()) continue;
      header += header.empty() ? label : " - " + label;
    }
    fmt::print(stderr, "{}\n", header);
  }

  void end_progress_line() {
    if (!line_open_) return;
    fmt::print(stderr, "\n");
    line_open_ = false;
  }

  const bool on_terminal_;
  std::string caption_;
  std::array<std::string, 3> labels_;
  std::string step_;
  long records_ = 0;
  std::string shown_;
  bool progress_changed_ = false;
  bool header_shown_ = false;
  bool line_open_ = false;
  Clock::time_point last_drawn_{};
};

}  // namespace

std::unique_ptr<Window> make_terminal_window() { return std::make_unique<TerminalWindow>(); }

}  // namespace kavelo
