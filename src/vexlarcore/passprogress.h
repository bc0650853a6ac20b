// The progress messages of one render pass, shared by the serial driver
// and the forked one (internal to the library).
//
// On standard output a pass reads "\r<title>" when it begins, "#" before
// every tenth block after the first, then "#]\n" or "Aborted\n". Each block
// also gives a step event (blocks done so far, blocks in the pass) for sinks
// that draw their own display.
#ifndef VEXLARCORE_PASSPROGRESS_H
#define VEXLARCORE_PASSPROGRESS_H

#include <cstddef>
#include <string>

#include "vexlarcore/messages.h"

namespace vexlar {

class __attribute__((visibility("hidden"))) passProgress_t {
public:
    /// `pass`: the event's pass name; `title`: the line's title, such as
    /// "Render pass: [". Emits the begin message.
    passProgress_t(const char* pass, const char* title, std::size_t total) : pass(pass), total(total) {
        emit(progressStage_t::begin, 0, std::string("\r") + title);
    }
    /// Called before each block is handed on, with the blocks handed on so far.
    void starting(std::size_t done) {
        if (done > 0) emit(progressStage_t::step, done, done % 10 == 0 ? "#" : "");
    }
    void finished() { emit(progressStage_t::end, total, "#]\n"); }
    void aborted(std::size_t done) { emit(progressStage_t::aborted, done, "Aborted\n"); }

private:
    void emit(progressStage_t stage, std::size_t done, const std::string& text) const {
        progressEvent_t e;
        e.pass = pass;
        e.stage = stage;
        e.done = static_cast<long long>(done);
        e.total = static_cast<long long>(total);
        emitProgress(messageStream_t::standardOutput, text, e);
    }

    const char* pass;
    std::size_t total;
};

} // namespace vexlar

#endif
