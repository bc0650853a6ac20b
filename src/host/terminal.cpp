#include "host/terminal.h"

#include <chrono>
#include <cmath>

#include <sys/ioctl.h>
#include <unistd.h>

namespace vexlar {
namespace host {

namespace {

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Render passes count blocks and announce themselves off a terminal.
bool isRenderPass(const std::string& pass) {
    return endsWith(pass, "pass");
}

// A line of the library's text as a plain line: what follows the last
// carriage return, without trailing blanks.
std::string plainLine(std::string s) {
    std::size_t cr = s.rfind('\r');
    if (cr != std::string::npos) s.erase(0, cr + 1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
    return s;
}

std::size_t terminalWidth(std::FILE* out) {
    struct winsize ws {};
    if (ioctl(fileno(out), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1) return ws.ws_col;
    return 80;
}

} // namespace

std::string clockText(double seconds) {
    long long s = seconds > 0 && std::isfinite(seconds) ? static_cast<long long>(seconds) : 0;
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

terminal_t::terminal_t(std::FILE* o, bool terminal, verbosity_t v, clock_t c)
    : out(o), isTerminal(terminal), verbosity(v), clock(c ? std::move(c) : clock_t(steadySeconds)) {}

terminal_t::~terminal_t() {
    clearLine();
    if (!pending.empty()) {
        const std::string rest = plainLine(pending);
        pending.clear();
        if (!rest.empty()) write(rest + "\n");
    }
}

void terminal_t::message(const message_t& m) {
    if (m.level == messageLevel_t::progress && m.progress != nullptr) {
        // The text of a pass without units is set-up chatter too
        // ("Building bounding tree ... ").
        if (verbosity == verbosity_t::verbose && m.progress->total == 0 &&
            m.progress->stage == progressStage_t::begin) {
            const std::string s = plainLine(std::string(m.text));
            if (!s.empty()) line(s);
        }
        progress(*m.progress);
        return;
    }
    if (m.level == messageLevel_t::info && verbosity != verbosity_t::verbose) return;
    text(m);
}

void terminal_t::text(const message_t& m) {
    pending.append(m.text.data(), m.text.size());
    std::size_t start = 0;
    for (std::size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1) {
        const std::string s = plainLine(pending.substr(start, nl - start));
        if (!s.empty()) line(s);
    }
    pending.erase(0, start);
}

void terminal_t::line(const std::string& s) {
    const bool redraw = !shown.empty();
    clearLine();
    write(s + "\n");
    if (redraw) draw();
}

void terminal_t::progress(const progressEvent_t& e) {
    if (verbosity == verbosity_t::quiet) return;
    const double now = clock();
    const std::string name(e.pass);
    if (e.stage == progressStage_t::begin || name != pass) {
        pass = name;
        passStarted = now;
        lastDrawn = now;
        printedPlain = false;
        done = e.done;
        total = e.total;
        if (isTerminal) {
            draw();
        } else if (isRenderPass(pass) && total > 0) {
            write(pass + ": " + std::to_string(total) + " blocks\n");
            printedPlain = true;
        }
        if (e.stage == progressStage_t::begin) return;
    }
    done = e.done;
    total = e.total;
    if (e.stage == progressStage_t::end || e.stage == progressStage_t::aborted) {
        if (isTerminal) {
            clearLine();
        } else if (printedPlain) {
            const std::string units = isRenderPass(pass) ? " blocks" : "";
            const std::string time = clockText(now - passStarted);
            write(pass +
                  (e.stage == progressStage_t::end
                       ? ": done, " + (total > 0 ? std::to_string(total) + units + " in " : "") + time
                       : ": stopped after " + std::to_string(done) + units + ", " + time) +
                  "\n");
        }
        pass.clear();
        return;
    }
    if (isTerminal) {
        if (now - lastDrawn >= redrawInterval) {
            lastDrawn = now;
            draw();
        }
    } else if (now - lastDrawn >= plainInterval) {
        lastDrawn = now;
        printedPlain = true;
        write(describe(now, true) + "\n");
    }
}

std::string terminal_t::describe(double now, bool plain) const {
    const double elapsed = now - passStarted;
    // Without units nothing arrives while the step runs, so the terminal
    // line does not show a clock that would stand still.
    if (total <= 0) return pass + (plain ? ": " + clockText(elapsed) + " elapsed" : " ...");
    std::string s = pass + (plain ? ": " : "  ");
    const long long percent = done <= 0 ? 0 : done >= total ? 100 : done * 100 / total;
    std::string count;
    if (isRenderPass(pass)) count = std::to_string(done) + "/" + std::to_string(total) + " blocks";
    std::string left;
    if (done > 0 && done < total)
        left = "about " + clockText(elapsed * static_cast<double>(total - done) / static_cast<double>(done)) +
               " left";
    const std::string sep = plain ? ", " : "  ";
    std::string detail = count;
    for (const std::string& part : {clockText(elapsed) + " elapsed", left})
        if (!part.empty()) detail += (detail.empty() ? "" : sep) + part;
    char pct[24];
    std::snprintf(pct, sizeof pct, plain ? "%lld%%" : "%3lld%%", percent);
    return s + pct + (plain ? " (" + detail + ")" : "  " + detail);
}

void terminal_t::draw() {
    if (!isTerminal || pass.empty()) return;
    std::string s = describe(clock(), false);
    const std::size_t width = terminalWidth(out);
    if (s.size() >= width) s.resize(width - 1);
    write("\r" + s + "\033[K");
    shown = s;
}

void terminal_t::clearLine() {
    if (shown.empty()) return;
    write("\r\033[K");
    shown.clear();
}

void terminal_t::write(const std::string& s) {
    std::fwrite(s.data(), 1, s.size(), out);
    std::fflush(out);
}

} // namespace host
} // namespace vexlar
