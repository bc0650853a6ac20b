#include "vexlarcore/messages.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace vexlar {

namespace {

// Shared pointer so that a sink which replaces the sink while it runs keeps
// its own callable alive until it returns.
struct sinkSlot_t {
    std::recursive_mutex lock;
    std::shared_ptr<const messageSink_t> sink;
};

sinkSlot_t& slot() {
    // Never destroyed: messages may come from destructors of other statics.
    static sinkSlot_t* s = new sinkSlot_t;
    return *s;
}

} // namespace

messageSink_t setMessageSink(messageSink_t sink) {
    sinkSlot_t& s = slot();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    std::shared_ptr<const messageSink_t> previous = std::move(s.sink);
    if (sink) s.sink = std::make_shared<const messageSink_t>(std::move(sink));
    return previous ? *previous : messageSink_t();
}

void defaultMessageSink(const message_t& m) {
    std::FILE* f = m.stream == messageStream_t::standardOutput ? stdout : stderr;
    if (!m.text.empty()) std::fwrite(m.text.data(), 1, m.text.size(), f);
    std::fflush(f);
}

void emitMessage(const message_t& m) {
    sinkSlot_t& s = slot();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    std::shared_ptr<const messageSink_t> sink = s.sink;
    if (sink)
        (*sink)(m);
    else
        defaultMessageSink(m);
}

void emitMessage(messageLevel_t level, messageStream_t stream, std::string_view text) {
    message_t m;
    m.level = level;
    m.stream = stream;
    m.text = text;
    emitMessage(m);
}

void emitProgress(messageStream_t stream, std::string_view text, const progressEvent_t& event) {
    message_t m;
    m.level = messageLevel_t::progress;
    m.stream = stream;
    m.text = text;
    m.progress = &event;
    emitMessage(m);
}

} // namespace vexlar
