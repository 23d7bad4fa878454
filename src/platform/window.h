#pragma once
// The one window of the program: a caption, three labels, the hourglass and
// modal message boxes. A graphical implementation when a display is reachable,
// the terminal otherwise.
#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace kavelo {

enum class Label { first_caption, second_caption, progress };

class Window {
 public:
  virtual ~Window() = default;
  virtual void set_caption(const std::string& text) = 0;
  virtual void set_label(Label which, const std::string& text) = 0;
  // Shows the label's current text now (as far as the implementation's
  // refresh rate allows).
  virtual void repaint_label(Label which) = 0;
  virtual void repaint() = 0;
  // False when no label is ever shown (a terminal window whose stderr is no
  // terminal): a caller may then leave out making texts only labels show.
  virtual bool shows_labels() const { return true; }
  // One pass of the message loop: pending window events are handled.
  virtual void do_events() = 0;
  virtual void set_hourglass(bool on) = 0;
  // Modal, with an OK button, titled with the application title; returns when
  // it is closed.
  virtual void message_box(const std::string& text) = 0;

  // Puts the window on screen; a terminal has nothing to show.
  virtual void show() {}
  // Runs the message loop, and `on_timer` once when `delay` has passed; returns
  // after `on_timer` has returned. Without a message loop (a terminal)
  // `on_timer` runs at once.
  virtual void run_message_loop(std::chrono::milliseconds /*delay*/, const std::function<void()>& on_timer) {
    on_timer();
  }
  // The run is over and the process ends: `summary` is the run summary's
  // lines and, last, how the run ended. A terminal tells it on stderr; a
  // graphical window shows it as its last state and goes away.
  virtual void finish(const std::string& /*summary*/) {}
};

// Progress on stderr only when stderr is a terminal; a message box prints its
// text on stderr and waits for Enter only when stdin is a terminal.
std::unique_ptr<Window> make_terminal_window();

// The graphical window when a display is reachable; nullptr otherwise (no
// display is never an error: the caller falls back to the terminal).
std::unique_ptr<Window> make_graphical_window();

// The graphical window when a display is reachable, the terminal one
// otherwise.
std::unique_ptr<Window> choose_window();

}  // namespace kavelo
