#include "window/fltk_window.h"

#include <gtest/gtest.h>
// After GoogleTest: the X headers define macros (None, Bool) that it uses as names.
#include <FL/x.H>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "window/logo.h"
#include "window/test_display.h"

namespace kavelo {
namespace {

using namespace std::chrono_literals;

// On a virtual display of its own: the labels as drawn, progress, the message
// loop's timer and the last state that finish() leaves. (The window's size, its
// message boxes and a display that is not there, the scenarios of kavelo tell.)
TEST(FltkWindow, DrawsTheLabelsAndProgressRunsTheTimerAndFinishLeavesTheSummary) {
  TestDisplay display(800, 300);
  setenv("DISPLAY", display.name().c_str(), 1);
  std::unique_ptr<FltkWindow> window = FltkWindow::open();
  ASSERT_NE(window, nullptr);
  window->show();

  // The second caption as shown: the pixels darker than grey text on its second
  // line, 16 to 33 pixels below its top, 120 from the left.
  const auto second_line = [&](const std::string& caption) {
    window->set_label(Label::second_caption, caption);
    for (int i = 0; i < 30; ++i, std::this_thread::sleep_for(10ms)) window->do_events();
    XImage* image = XGetImage(fl_display, window->x_window(), 120, 38 + 17, 407, 33 - 17, AllPlanes, ZPixmap);
    if (image == nullptr) throw std::runtime_error("XGetImage failed");
    int dark = 0;
    for (int row = 0; row < 33 - 17; ++row)
      for (int column = 0; column < 407; ++column) dark += ((XGetPixel(image, column, row) >> 8) & 0xFF) < 100;
    XDestroyImage(image);
    return dark;
  };
  EXPECT_EQ(second_line("Datos de contabilidad"), 0);
  // A long one wraps, all of it text: FLTK would read what follows an "@" as
  // a symbol's name and leave the rest out.
  EXPECT_GT(second_line("Contabilidad de 2011, dudas a conta@delegacion.es: enero, febrero y marzo de la delegación de "
                        "Las Palmas de Gran Canaria"),
            20);

  // Records as fast as they come, for long enough to be drawn a few times: at
  // most ten times a second, and in full at the message loop.
  const long draws_before = window->progress_draws();
  auto start = std::chrono::steady_clock::now();
  std::string text;
  for (int records = 0; records < 300000 || std::chrono::steady_clock::now() - start < 350ms;) {
    text = "Convirtiendo apuntes: " + std::to_string(++records) + " - Clientes";
    window->set_label(Label::progress, text);
    window->repaint_label(Label::progress);
  }
  const long draws = window->progress_draws() - draws_before;
  EXPECT_GE(draws, 2);
  EXPECT_LE(draws, 1 + (std::chrono::steady_clock::now() - start) / FltkWindow::kRefresh);
  window->do_events();
  EXPECT_EQ(window->shown_text(Label::progress), text);

  // The timer runs its handler once after the delay, and a failure of the
  // handler leaves the loop.
  int calls = 0;
  start = std::chrono::steady_clock::now();
  window->run_message_loop(200ms, [&] {
    ++calls;
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
  });
  for (int i = 0; i < 5; ++i) window->do_events();
  EXPECT_EQ(calls, 1) << "the loop is over, nothing fires again";
  EXPECT_THROW(window->run_message_loop(1ms, [] { throw std::runtime_error("fallo"); }), std::runtime_error);

  window->finish("Archivo  Leídos\nMAE.TXT       3\nProceso terminado sin errores");
  EXPECT_EQ(window->x_window(), 0u);
  // Its last state: the table under the labels, how the run ended in the progress line.
  EXPECT_EQ(window->summary_shown(), "Archivo  Leídos\nMAE.TXT       3");
  EXPECT_EQ(window->shown_text(Label::progress), "Proceso terminado sin errores");
  window.reset();
  FltkWindow::close_display();
}

TEST(Logo, IsAWhiteMarkOnABlueTileThatBlendsIntoTheBackground) {
  const Rgb background{240, 240, 240};
  const auto image = draw_logo(109, 111, background);
  ASSERT_EQ(image.size(), 109u * 111u * 3u);
  const auto pixel = [&](int x, int y) {
    const auto at = static_cast<std::size_t>((y * 109 + x) * 3);
    return Rgb{image[at], image[at + 1], image[at + 2]};
  };
  for (auto [x, y] : {std::pair{0, 0}, {108, 0}, {0, 110}, {108, 110}, {54, 2}, {2, 55}})
    EXPECT_EQ(pixel(x, y), background) << x << "," << y;
  int white = 0, blue = 0;
  for (int y = 0; y < 111; ++y)
    for (int x = 0; x < 109; ++x) {
      const Rgb p = pixel(x, y);
      white += p == Rgb{255, 255, 255};
      blue += p.red == 0 && p.blue > 180 && p.green > 120;
    }
  EXPECT_GT(white, 500);
  EXPECT_GT(blue, 3000);
  EXPECT_TRUE(draw_logo(0, 10, background).empty());
}

}  // namespace
}  // namespace kavelo
