#include "host/interrupt.h"

#include "host/options.h"

#include <cstring>
#include <unistd.h>

namespace vexlar {
namespace host {

namespace {

volatile std::sig_atomic_t signals = 0;
volatile std::sig_atomic_t acknowledged = 0;

// Paths the forced end removes; a slot is free when its first byte is 0.
constexpr int slots = 4;
constexpr std::size_t pathRoom = 4096;
char temporaries[slots][pathRoom];

void say(const char* text) {
    const std::size_t n = std::strlen(text);
    ssize_t ignored = write(STDERR_FILENO, text, n);
    (void)ignored;
}

[[noreturn]] void endAtOnce() {
    for (char* path : temporaries)
        if (path[0] != 0) unlink(path);
    say("\nvexlar: interrupted; stopped at once\n");
    _exit(exitInterrupted);
}

extern "C" void onInterrupt(int) {
    signals = signals + 1;
    if (signals == 1) alarm(interruptGraceSeconds);
    if (signals >= 3) endAtOnce();
}

extern "C" void onAlarm(int) {
    if (signals > 0 && !acknowledged) endAtOnce();
}

void install(int signal, void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(signal, &sa, nullptr);
}

} // namespace

void catchInterrupts() {
    install(SIGINT, onInterrupt);
    install(SIGALRM, onAlarm);
}

volatile std::sig_atomic_t* interruptFlag() {
    return &signals;
}

bool interruptRequested() {
    return signals != 0;
}

void acknowledgeInterrupt() {
    acknowledged = 1;
    alarm(0);
}

void noteTemporaryFile(const char* path) {
    if (std::strlen(path) >= pathRoom) return;
    for (char* slot : temporaries)
        if (slot[0] == 0) {
            // The first byte last, so a handler never sees a half-copied path.
            std::strcpy(slot + 1, path + (path[0] != 0));
            slot[0] = path[0];
            return;
        }
}

void forgetTemporaryFile(const char* path) {
    for (char* slot : temporaries)
        if (slot[0] != 0 && std::strcmp(slot, path) == 0) slot[0] = 0;
}

} // namespace host
} // namespace vexlar
