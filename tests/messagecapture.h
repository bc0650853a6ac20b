// A message sink for tests: while a messageCapture_t lives, every message
// the library emits is kept here instead of being printed.
//
//     messageCapture_t messages;
//     scene.render(out);
//     EXPECT_EQ(messages.text(messageStream_t::standardOutput), "...");
#ifndef VEXLAR_TESTS_MESSAGECAPTURE_H
#define VEXLAR_TESTS_MESSAGECAPTURE_H

#include <string>
#include <vector>

#include "vexlarcore/messages.h"

namespace fixtures {

/// One message as it arrived, with copies of its text and progress event.
struct capturedMessage_t {
    vexlar::messageLevel_t level;
    vexlar::messageStream_t stream;
    std::string text;
    bool hasProgress;
    std::string pass;
    vexlar::progressStage_t stage;
    long long done, total;
};

class messageCapture_t {
public:
    messageCapture_t() : scope([this](const vexlar::message_t& m) { keep(m); }) {}

    /// What the default sink would have written on `stream`.
    std::string text(vexlar::messageStream_t stream) const {
        return join([stream](const capturedMessage_t& m) { return m.stream == stream; });
    }
    /// The texts of one level, in order.
    std::string text(vexlar::messageLevel_t level) const {
        return join([level](const capturedMessage_t& m) { return m.level == level; });
    }
    /// The progress messages of `pass`.
    std::vector<capturedMessage_t> progress(const std::string& pass) const {
        std::vector<capturedMessage_t> p;
        for (const capturedMessage_t& m : messages)
            if (m.hasProgress && m.pass == pass) p.push_back(m);
        return p;
    }
    void clear() { messages.clear(); }

    std::vector<capturedMessage_t> messages;
    /// When set, also receives every message as it arrives (for instance
    /// vexlar::defaultMessageSink, to print the messages as well).
    vexlar::messageSink_t passOn;

private:
    template <class P> std::string join(P chosen) const {
        std::string s;
        for (const capturedMessage_t& m : messages)
            if (chosen(m)) s += m.text;
        return s;
    }
    void keep(const vexlar::message_t& m) {
        const vexlar::progressEvent_t* p = m.progress;
        messages.push_back({m.level, m.stream, std::string(m.text), p != nullptr,
                            p ? std::string(p->pass) : "", p ? p->stage : vexlar::progressStage_t::step,
                            p ? p->done : 0, p ? p->total : 0});
        if (passOn) passOn(m);
    }
    vexlar::messageSinkScope_t scope;
};

} // namespace fixtures

#endif
