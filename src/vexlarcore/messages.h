// The one path for everything the library prints.
//
// Progress of the render passes and of the filters, warnings, errors and the
// set-up lines are handed, one message at a time, to the process-wide message
// sink. The default sink writes each message's text, unchanged, to the
// standard stream the message names and flushes it, which is the library's
// classic terminal output, byte for byte. A host that owns its terminal or a
// window (a modelling program's exporter, a language binding, the vexlar
// program) installs a sink of its own and decides what to show:
//
//     vexlar::setMessageSink([](const vexlar::message_t& m) {
//         if (m.level == vexlar::messageLevel_t::progress)
//             showProgress(m.progress->pass, m.progress->done, m.progress->total);
//         else if (m.level != vexlar::messageLevel_t::info)
//             logLine(m.text);
//     });
//
// Texts are the library's exact output, so they may be fragments of a line:
// the progress of a pass is "\rRender pass: [" when it begins, "#" every ten
// blocks, then "#]\n" or "Aborted\n"; "Building bounding tree ... " is ended
// by a later "OK\n". A message with an empty text carries only its progress
// event (one per block). Line-oriented sinks use the progress events and may
// trim the texts of the other levels.
//
// Ownership: setMessageSink keeps a copy of the callable; the message and
// the text it points to live only during the call.
//
// Thread-safety: calls to the sink are serialised by a process-wide lock, so
// a sink needs no locking of its own even when several threads render; a
// sink may itself emit messages or replace the sink (the replacement takes
// effect from the next message). A forked render worker installs a sink that
// sends its messages to the parent, which hands them to the parent's sink
// (see forkedscene.h); a host's sink therefore runs in the host's process
// only. Do not fork while another thread is inside a sink.
#ifndef VEXLARCORE_MESSAGES_H
#define VEXLARCORE_MESSAGES_H

#include <functional>
#include <string>
#include <string_view>

namespace vexlar {

/// How much a message matters, most to least.
enum class messageLevel_t {
    error,   ///< something failed (the operation reports it as a result too)
    warning, ///< something was ignored or replaced; work went on
    info,    ///< set-up chatter: world resolution, tree build, light set-up
    progress ///< a step of a pass; the message carries a progressEvent_t
};

/// The standard stream the default sink writes a message to.
enum class messageStream_t { standardOutput, standardError };

/// Where a pass stands.
enum class progressStage_t {
    begin,  ///< the pass starts; done is 0
    step,   ///< `done` of `total` units finished
    end,    ///< the pass finished; done == total
    aborted ///< the pass stopped early (the output refused a pixel)
};

/// The structured part of a progress message.
struct progressEvent_t {
    /// The pass: "Render pass", "Fake pass" (a preliminary pass for the
    /// lights), "DOF filter", "AntiNoise filter", "Object tree" (the bounding
    /// tree build, no units). Hosts may emit passes of their own names.
    std::string_view pass;
    progressStage_t stage = progressStage_t::step;
    /// Units done so far (blocks for render passes, filter passes or rows for
    /// the filters); 0 <= done <= total.
    long long done = 0;
    /// Units of the whole pass; 0 when the pass has no count.
    long long total = 0;
};

/// One message as the sink receives it.
struct message_t {
    messageLevel_t level = messageLevel_t::info;
    messageStream_t stream = messageStream_t::standardError;
    /// The exact characters the default sink writes (may be empty).
    std::string_view text;
    /// Set exactly when level is progress.
    const progressEvent_t* progress = nullptr;
};

/// A message sink. Called once per message, never concurrently.
using messageSink_t = std::function<void(const message_t&)>;

/// Installs `sink` for every later message and returns the one it replaces
/// (an empty function when that was the default). An empty `sink` restores
/// the default.
messageSink_t setMessageSink(messageSink_t sink);

/// The default sink: writes the text to its stream with the C streams (so it
/// keeps its order with printf and std::cout output) and flushes.
void defaultMessageSink(const message_t& message);

/// Hands a message to the current sink.
void emitMessage(const message_t& message);
/// Hands a message without progress event (level error, warning or info).
void emitMessage(messageLevel_t level, messageStream_t stream, std::string_view text);
/// Hands a progress message.
void emitProgress(messageStream_t stream, std::string_view text, const progressEvent_t& event);

/// Installs a sink for the lifetime of the object and restores the previous
/// one when it ends (for tests and for hosts that render more than once).
class messageSinkScope_t {
public:
    explicit messageSinkScope_t(messageSink_t sink) : previous(setMessageSink(std::move(sink))) {}
    ~messageSinkScope_t() { setMessageSink(std::move(previous)); }
    messageSinkScope_t(const messageSinkScope_t&) = delete;
    messageSinkScope_t& operator=(const messageSinkScope_t&) = delete;

private:
    messageSink_t previous;
};

} // namespace vexlar

#endif
