#include "window/fltk_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <functional>

#include "window/logo.h"
#include "platform/product.h"

namespace kavelo {
namespace {

// A humanist sans close to the one the window was designed with, in the
// regular and the semibold weight (fonts-open-sans).
constexpr Fl_Font kSans = FL_FREE_FONT;
constexpr Fl_Font kSansSemibold = FL_FREE_FONT + 1;
// Point sizes at 96 dots per inch; FLTK sizes are pixels.
constexpr Fl_Fontsize kTitleSize = 16;  // 12 points
constexpr Fl_Fontsize kTextSize = 11;   // 8.25 points
constexpr Fl_Fontsize kMessageSize = 12;

constexpr Rgb kBackground{240, 240, 240};
constexpr Rgb kGrey{128, 128, 128};

// The logo at the left edge, the labels 120 pixels from it.
constexpr int kLogoWidth = 109;
constexpr int kLabelsLeft = 120;
// The second caption is 407 by 33 pixels: a longer caption wraps over two lines.
constexpr int kSecondCaptionWidth = 407;
constexpr int kSecondCaptionHeight = 33;

Fl_Color colour(Rgb rgb) { return fl_rgb_color(rgb.red, rgb.green, rgb.blue); }

// A label that shows its text as it is: FLTK would read "@" in a label as the
// start of a symbol's name, and a record's name may hold one.
class TextBox final : public Fl_Box {
 public:
  TextBox(int x, int y, int w, int h, Fl_Font font, Fl_Fontsize size, Fl_Color text_colour, Fl_Align how)
      : Fl_Box(x, y, w, h) {
    box(FL_FLAT_BOX);  // cleared before each draw, so a shorter text leaves nothing behind
    labelfont(font);
    labelsize(size);
    labelcolor(text_colour);
    align(how | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
  }

 protected:
  void draw() override {
    draw_box();
    if (label() == nullptr) return;
    fl_font(labelfont(), labelsize());
    fl_color(labelcolor());
    fl_draw(label(), x(), y(), w(), h(), align(), nullptr, 0);
  }
};

// The window goes away only when the run is over: a click on its close box or
// Escape does nothing, so the caller always gets its reports.
void ignore_close(Fl_Widget*, void*) {}

// In a message box "@@" stands for one "@".
std::string without_symbols(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    escaped += c;
    if (c == '@') escaped += '@';
  }
  return escaped;
}

bool display_closed = false;

}  // namespace

std::unique_ptr<FltkWindow> FltkWindow::open() {
  // FLTK itself would end the process when it finds no display; it is asked
  // only after the display has been opened here.
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0' || display_closed) return nullptr;
  if (fl_display == nullptr) {
    Display* display = XOpenDisplay(name);
    if (display == nullptr) return nullptr;
    fl_open_display(display);
  }
  return std::unique_ptr<FltkWindow>(new FltkWindow());
}

FltkWindow::FltkWindow() {
  Fl::set_font(kSans, " Open Sans");
  Fl::set_font(kSansSemibold, " Open Sans Semibold");
  // The message boxes' buttons too.
  Fl::set_font(FL_HELVETICA, " Open Sans");
  Fl::scheme("gtk+");
  Fl::background(kBackground.red, kBackground.green, kBackground.blue);
  fl_message_font(kSans, kMessageSize);
  fl_close = "Aceptar";

  logo_pixels_ = draw_logo(kLogoWidth, kHeight, kBackground);
  logo_ = std::make_unique<Fl_RGB_Image>(logo_pixels_.data(), kLogoWidth, kHeight, 3);

  window_ = new Fl_Double_Window((Fl::w() - kWidth) / 2, (Fl::h() - kHeight) / 2, kWidth, kHeight);
  window_->xclass("kavelo");
  window_->callback(ignore_close);
  auto* logo = new Fl_Box(0, 0, kLogoWidth, kHeight);
  logo->box(FL_NO_BOX);
  logo->image(logo_.get());
  labels_[0] = new TextBox(kLabelsLeft, 10, 0, 24, kSansSemibold, kTitleSize, colour(kProductBlue), FL_ALIGN_LEFT);
  labels_[1] = new TextBox(kLabelsLeft, 38, kSecondCaptionWidth, kSecondCaptionHeight, kSans, kTextSize, FL_FOREGROUND_COLOR,
                           FL_ALIGN_TOP_LEFT | FL_ALIGN_WRAP);
  labels_[2] = new TextBox(kLabelsLeft, 84, kWidth - kLabelsLeft, 17, kSans, kTextSize, colour(kGrey), FL_ALIGN_LEFT);
  window_->end();

  set_caption(product::kTitle);
  set_label(Label::progress, "Procesando");
  apply_progress();
}

FltkWindow::~FltkWindow() {
  delete window_;
  logo_.reset();
}

Fl_Box* FltkWindow::widget(Label which) const { return labels_[static_cast<std::size_t>(which)]; }

void FltkWindow::set_caption(const std::string& text) { window_->copy_label(text.c_str()); }

void FltkWindow::set_label(Label which, const std::string& text) {
  texts_[static_cast<std::size_t>(which)] = text;
  if (which == Label::progress) {
    progress_pending_ = true;
  } else {
    apply(which);
  }
}

void FltkWindow::apply(Label which) {
  if (which == Label::progress) {
    apply_progress();
    return;
  }
  Fl_Box* box = widget(which);
  const std::string& text = texts_[static_cast<std::size_t>(which)];
  box->copy_label(text.c_str());
  if (which == Label::first_caption) {
    // The first caption is as wide as its text.
    fl_font(box->labelfont(), box->labelsize());
    int w = 0;
    int h = 0;
    fl_measure(text.c_str(), w, h, 0);
    box->size(w + 2, box->h());
  }
  // The whole window, so that what a longer text covered is cleared too.
  window_->redraw();
}

void FltkWindow::apply_progress() {
  if (!progress_pending_) return;
  progress_pending_ = false;
  widget(Label::progress)->copy_label(texts_[2].c_str());
  widget(Label::progress)->redraw();
  ++progress_draws_;
}

void FltkWindow::repaint_label(Label which) {
  if (which != Label::progress) {
    apply(which);
    Fl::flush();
    return;
  }
  const auto now = Clock::now();
  if (now - progress_drawn_ < kRefresh) return;
  progress_drawn_ = now;
  apply_progress();
  // Drawn now without running the message loop: events wait for its next run.
  Fl::flush();
}

void FltkWindow::repaint() {
  apply_progress();
  progress_drawn_ = Clock::now();
  window_->redraw();
  Fl::flush();
}

void FltkWindow::do_events() {
  apply_progress();
  progress_drawn_ = Clock::now();
  Fl::check();
}

void FltkWindow::set_hourglass(bool on) {
  hourglass_ = on;
  window_->cursor(on ? FL_CURSOR_WAIT : FL_CURSOR_DEFAULT);
  Fl::flush();
}

void FltkWindow::message_box(const std::string& text) {
  // The box shows over the record it is about.
  apply_progress();
  Fl::flush();
  fl_message_title(product::kTitle);
  fl_message("%s", without_symbols(text).c_str());
}

void FltkWindow::show() {
  window_->show();
  if (hourglass_) window_->cursor(FL_CURSOR_WAIT);
  Fl::flush();
}

namespace {

// The loop's one-shot timer.
struct LoopTimer {
  const std::function<void()>* handler;
  std::chrono::steady_clock::time_point due;
  bool fired = false;
  std::exception_ptr failure;
};

void on_loop_timeout(void* data) {
  auto* t = static_cast<LoopTimer*>(data);
  // FLTK times its timeouts by another clock than the program's: one that
  // comes a moment early waits out the rest, so the delay is never cut short.
  const auto left = t->due - std::chrono::steady_clock::now();
  if (left > std::chrono::steady_clock::duration::zero()) {
    Fl::add_timeout(std::chrono::duration<double>(left).count(), on_loop_timeout, data);
    return;
  }
  try {
    (*t->handler)();
  } catch (...) {
    t->failure = std::current_exception();
  }
  t->fired = true;
}

}  // namespace

void FltkWindow::run_message_loop(std::chrono::milliseconds delay, const std::function<void()>& on_timer) {
  // One shot: the handler runs once, and only the loop's own timer starts it.
  LoopTimer timer{&on_timer, std::chrono::steady_clock::now() + delay, false, nullptr};
  Fl::add_timeout(std::chrono::duration<double>(delay).count(), on_loop_timeout, &timer);
  // FLTK runs a due timeout at the start of a wait and then goes on waiting for
  // events: a bounded wait lets the loop see that the handler has returned.
  constexpr double kPoll = 0.1;
  while (!timer.fired) Fl::wait(kPoll);
  if (timer.failure) std::rethrow_exception(timer.failure);
}

void FltkWindow::finish(const std::string& summary) {
  // The last state: the progress line tells how the run ended, and the summary's table
  // (the lines before) is shown under the labels, in a fixed-width font so
  // that its columns line up; the window grows to hold it.
  const std::size_t last_break = summary.rfind('\n');
  const std::string table = last_break == std::string::npos ? std::string() : summary.substr(0, last_break);
  set_label(Label::progress, last_break == std::string::npos ? summary : summary.substr(last_break + 1));
  apply(Label::progress);
  if (!table.empty()) {
    fl_font(FL_COURIER, kSummarySize);
    int text_width = 0, text_height = 0;
    fl_measure(table.c_str(), text_width, text_height, 0);
    const int width = std::max(kWidth, text_width + 2 * kSummaryMargin);
    window_->begin();
    summary_ = new TextBox(kSummaryMargin, kHeight, width - 2 * kSummaryMargin, text_height, FL_COURIER, kSummarySize,
                           FL_FOREGROUND_COLOR, FL_ALIGN_TOP_LEFT);
    window_->end();
    summary_->copy_label(table.c_str());
    window_->size(width, kHeight + text_height + kSummaryMargin);
  }
  window_->redraw();
  Fl::flush();
  window_->hide();
  Fl::flush();
}

std::string FltkWindow::summary_shown() const {
  return summary_ == nullptr || summary_->label() == nullptr ? std::string() : std::string(summary_->label());
}

std::string FltkWindow::shown_text(Label which) const {
  const char* text = widget(which)->label();
  return text == nullptr ? std::string() : std::string(text);
}

std::string FltkWindow::caption() const {
  const char* text = window_->label();
  return text == nullptr ? std::string() : std::string(text);
}

unsigned long FltkWindow::x_window() const { return fl_xid(window_); }

void FltkWindow::close_display() {
  if (fl_display != nullptr) fl_close_display();
  display_closed = true;
}

}  // namespace kavelo
