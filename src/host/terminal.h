// What the vexlar program shows on standard error while it works: the
// library's messages (through its message sink) and the program's own
// warnings, with a progress display.
#ifndef VEXLAR_HOST_TERMINAL_H
#define VEXLAR_HOST_TERMINAL_H

#include <cstdio>
#include <functional>
#include <string>

#include "vexlarcore/messages.h"

namespace vexlar {
namespace host {

/// How much the program says: -q, the default, -v.
enum class verbosity_t { quiet, normal, verbose };

/// The display. Warnings and errors always show, as whole lines without the
/// library's line-drawing characters; info messages (set-up chatter) only
/// when verbose; progress never when quiet.
///
/// On a terminal the progress of the pass running is one line redrawn in
/// place (at most ten times a second), for example
///   "Render pass  42%  17/40 blocks  0:03 elapsed  about 0:04 left"
/// ("Mesh tree ..." for a step without units) and cleared when the pass
/// ends or another line is printed. Off a
/// terminal, render passes ("... pass") print a line when they begin, every
/// pass prints a line each `plainInterval` seconds it runs and, if it
/// printed any, one when it ends:
///   "Render pass: 40 blocks"
///   "Render pass: 42% (17/40 blocks, 0:10 elapsed, about 0:14 left)"
///   "Render pass: done, 40 blocks in 0:24"
///
/// Not thread-safe by itself; as the library's sink it is called under the
/// library's lock.
class terminal_t {
public:
    /// Seconds on a steady clock.
    using clock_t = std::function<double()>;

    terminal_t(std::FILE* out, bool isTerminal, verbosity_t verbosity, clock_t clock = clock_t());
    /// Clears a progress line that is still shown.
    ~terminal_t();
    terminal_t(const terminal_t&) = delete;
    terminal_t& operator=(const terminal_t&) = delete;

    /// The library's message sink.
    void message(const message_t& m);
    /// One line of the program's own (a warning or an error), shown whatever
    /// the verbosity; the progress line is cleared first and redrawn after.
    void line(const std::string& text);

    /// Seconds between the plain lines off a terminal.
    static constexpr double plainInterval = 10.0;
    /// Seconds between redraws of the progress line.
    static constexpr double redrawInterval = 0.1;

private:
    void progress(const progressEvent_t& e);
    void text(const message_t& m);
    void write(const std::string& s);
    void clearLine();
    void draw();
    std::string describe(double now, bool plain) const;

    std::FILE* out;
    bool isTerminal;
    verbosity_t verbosity;
    clock_t clock;
    std::string pending; ///< the start of a line of text not ended yet
    std::string pass;    ///< the pass running, "" when none
    long long done = 0;  ///< the pass's last count
    long long total = 0;
    double passStarted = 0;
    double lastDrawn = -1;
    bool printedPlain = false; ///< off a terminal: the pass printed a line
    std::string shown;         ///< the progress line on the terminal now
};

/// "m:ss" (or "h:mm:ss") for a number of seconds (negative counts as 0).
std::string clockText(double seconds);

/// Installs `t` as the library's message sink while it lives.
class terminalSink_t {
public:
    explicit terminalSink_t(terminal_t& t) : scope([&t](const message_t& m) { t.message(m); }) {}

private:
    messageSinkScope_t scope;
};

} // namespace host
} // namespace vexlar

#endif
