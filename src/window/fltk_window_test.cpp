#include "window/fltk_window.h"

#include <gtest/gtest.h>
// After GoogleTest: the X headers define macros (None, Bool) that it uses as names.
#include <FL/x.H>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <thread>

#include "window/test_display.h"

namespace kavelo {
namespace {

using namespace std::chrono_literals;

// Sets DISPLAY for the length of a test and puts it back afterwards.
class DisplayVariable {
 public:
  explicit DisplayVariable(const char* value) {
    if (const char* current = std::getenv("DISPLAY")) saved_ = current;
    if (value) setenv("DISPLAY", value, 1);
    else unsetenv("DISPLAY");
  }
  ~DisplayVariable() {
    if (saved_) setenv("DISPLAY", saved_->c_str(), 1);
    else unsetenv("DISPLAY");
  }

 private:
  std::optional<std::string> saved_;
};

TEST(FltkWindowWithoutDisplay, IsNoWindowAndNoExit) {
  for (const char* value : {static_cast<const char*>(nullptr), ""}) {
    DisplayVariable display(value);
    EXPECT_EQ(FltkWindow::open(), nullptr);
    EXPECT_EQ(make_graphical_window(), nullptr);
  }
}

// Every test of this suite draws on one virtual display of its own.
class FltkWindowTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    display_ = new TestDisplay(800, 300);
    variable_ = new DisplayVariable(display_->name().c_str());
  }
  static void TearDownTestSuite() {
    FltkWindow::close_display();
    delete variable_;
    delete display_;
  }
  void SetUp() override { ASSERT_NE(window_ = FltkWindow::open(), nullptr); }

  // Lets the display map and draw the window.
  void settle() {
    for (int i = 0; i < 30; ++i, std::this_thread::sleep_for(10ms)) window_->do_events();
  }

  // Pixels darker than the grey text in a band of the window.
  int dark_pixels(int x, int y, int w, int h) const {
    XImage* image = XGetImage(fl_display, window_->x_window(), x, y, static_cast<unsigned>(w),
                              static_cast<unsigned>(h), AllPlanes, ZPixmap);
    if (image == nullptr) throw std::runtime_error("XGetImage failed");
    int dark = 0;
    for (int row = 0; row < h; ++row)
      for (int column = 0; column < w; ++column) dark += ((XGetPixel(image, column, row) >> 8) & 0xFF) < 100;
    XDestroyImage(image);
    return dark;
  }

  inline static TestDisplay* display_ = nullptr;
  inline static DisplayVariable* variable_ = nullptr;
  std::unique_ptr<FltkWindow> window_;
};

// From the title and "Procesando" before it is shown to the summary it is
// left with when it goes off the screen.
TEST_F(FltkWindowTest, ShowsTheWindowAndFinishTakesItOffTheScreen) {
  EXPECT_EQ(window_->caption(), "Doveduzi Kavelo");
  EXPECT_EQ(window_->shown_text(Label::progress), "Procesando");
  EXPECT_EQ(window_->x_window(), 0u) << "shown before show()";
  window_->show();
  settle();
  XWindowAttributes attributes{};
  ASSERT_NE(XGetWindowAttributes(fl_display, window_->x_window(), &attributes), 0);
  EXPECT_EQ(attributes.map_state, IsViewable);
  EXPECT_EQ(attributes.width, FltkWindow::kWidth);
  EXPECT_EQ(attributes.height, FltkWindow::kHeight);
  window_->finish("Archivo  Leídos\nMAE.TXT       3\nProceso terminado sin errores");
  EXPECT_EQ(window_->x_window(), 0u);
  // Its last state: the table under the labels, how the run ended in the progress line.
  EXPECT_EQ(window_->summary_shown(), "Archivo  Leídos\nMAE.TXT       3");
  EXPECT_EQ(window_->shown_text(Label::progress), "Proceso terminado sin errores");
}

TEST_F(FltkWindowTest, ALongSecondCaptionWrapsOverTwoLines) {
  window_->show();
  // The second line of the second caption: 16 to 33 pixels below its top, 120 from the left.
  const auto second_line = [&] { return dark_pixels(120, 38 + 17, 407, 33 - 17); };
  window_->set_label(Label::second_caption, "Datos de contabilidad");
  settle();
  EXPECT_EQ(second_line(), 0);
  window_->set_label(Label::second_caption,
                     "Importación de la contabilidad de enero, febrero y marzo de 2011 de la delegación de "
                     "Las Palmas de Gran Canaria");
  settle();
  EXPECT_GT(second_line(), 20);
}

TEST_F(FltkWindowTest, ProgressIsDrawnAtMostTenTimesASecondAndInFullAtTheMessageLoop) {
  window_->show();
  settle();
  const long draws_before = window_->progress_draws();
  const auto start = std::chrono::steady_clock::now();
  std::string text;
  // Records as fast as they come, for long enough to be drawn a few times.
  for (int records = 0; records < 300000 || std::chrono::steady_clock::now() - start < 350ms;) {
    text = "Convirtiendo apuntes: " + std::to_string(++records) + " - Clientes";
    window_->set_label(Label::progress, text);
    window_->repaint_label(Label::progress);
  }
  const long draws = window_->progress_draws() - draws_before;
  EXPECT_GE(draws, 2);
  EXPECT_LE(draws, 1 + (std::chrono::steady_clock::now() - start) / FltkWindow::kRefresh);
  window_->do_events();
  EXPECT_EQ(window_->shown_text(Label::progress), text);
}

// The timer runs its handler once after the delay, and a failure of the
// handler leaves the loop.
TEST_F(FltkWindowTest, MessageLoopRunsTheTimersHandlerOnce) {
  window_->show();
  int calls = 0;
  std::chrono::steady_clock::duration waited{};
  const auto start = std::chrono::steady_clock::now();
  window_->run_message_loop(200ms, [&] {
    ++calls;
    waited = std::chrono::steady_clock::now() - start;
  });
  EXPECT_EQ(calls, 1);
  EXPECT_GE(waited, 200ms);
  // The loop is over: nothing fires again.
  for (int i = 0; i < 5; ++i) window_->do_events();
  EXPECT_EQ(calls, 1);
  EXPECT_THROW(window_->run_message_loop(1ms, [] { throw std::runtime_error("fallo"); }), std::runtime_error);
}

}  // namespace
}  // namespace kavelo
