#include "host/mpipool.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "vexlarcore/transfer.h"

namespace vexlar {
namespace host {

namespace {

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

void reap(pid_t& pid, bool kill) {
    if (pid <= 0) return;
    if (kill) ::kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    pid = -1;
}

} // namespace

blockPool_t::blockPool_t(const blockSpliter_t& blocks, int n, int held, render_t r, bool forkOne)
    : ledger(blocks, 1, true), perWorker(std::max(held, 1)), render(std::move(r)) {
    // A worker that died must not take this process with it when the next
    // index is written to its pipe.
    std::signal(SIGPIPE, SIG_IGN);
    if (n > 1 || forkOne) spawn(std::max(n, 1));
}

blockPool_t::~blockPool_t() {
    for (worker_t& w : workers) {
        closeFd(w.commands);
        closeFd(w.blocks);
        reap(w.pid, true);
    }
}

void blockPool_t::spawn(int count) {
    std::fflush(nullptr);
    for (int k = 0; k < count; ++k) {
        int down[2], up[2];
        if (pipe2(down, O_CLOEXEC) != 0) return;
        if (pipe2(up, O_CLOEXEC) != 0) {
            ::close(down[0]);
            ::close(down[1]);
            return;
        }
        fcntl(up[1], F_SETPIPE_SZ, 1 << 20);
        pid_t pid = fork();
        if (pid == 0) {
            ::close(down[1]);
            ::close(up[0]);
            for (worker_t& w : workers) {
                ::close(w.commands);
                ::close(w.blocks);
            }
            workerMain(down[0], up[1]);
        }
        ::close(down[0]);
        ::close(up[1]);
        if (pid < 0) {
            ::close(down[1]);
            ::close(up[0]);
            return;
        }
        worker_t w;
        w.pid = pid;
        w.commands = down[1];
        w.blocks = up[0];
        workers.push_back(w);
    }
}

// The worker process: renders the blocks whose indices arrive, in order,
// and sends each back; an index of -1 (or the pipe's end) ends it after its
// counters. Nothing unwinds out of here into the host's code.
void blockPool_t::workerMain(int commands, int blocks) {
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGPIPE, SIG_DFL);
    int status = 1;
    try {
        const statCounters_t start = statCounters_t::now();
        std::vector<float> pixels;
        for (;;) {
            std::int32_t index = -1;
            if (readPipe(commands, &index, sizeof index) != 0 || index < 0) break;
            const workerMessageHeader_t h = render(static_cast<std::size_t>(index), pixels);
            if (!writeBlockMessage(blocks, h, pixels)) _exit(1);
        }
        if (writeCountersMessage(blocks, statCounters_t::now().since(start))) status = 0;
    } catch (...) {
    }
    _exit(status);
}

std::size_t blockPool_t::room() const {
    if (closed) return 0;
    std::size_t free = 0;
    for (const worker_t& w : workers)
        if (w.pid > 0)
            free += static_cast<std::size_t>(perWorker) - std::min(w.held.size(), std::size_t(perWorker));
    bool anyWorker = std::any_of(workers.begin(), workers.end(), [](const worker_t& w) { return w.pid > 0; });
    if (!anyWorker && local.size() < static_cast<std::size_t>(perWorker))
        free += static_cast<std::size_t>(perWorker) - local.size();
    return free;
}

bool blockPool_t::idle() const {
    return local.empty() &&
           std::none_of(workers.begin(), workers.end(), [](const worker_t& w) { return w.pid > 0; });
}

void blockPool_t::give(std::size_t index) {
    worker_t* best = nullptr;
    for (worker_t& w : workers)
        if (w.pid > 0 && w.held.size() < static_cast<std::size_t>(perWorker) &&
            (!best || w.held.size() < best->held.size()))
            best = &w;
    if (best) {
        std::int32_t i = static_cast<std::int32_t>(index);
        best->held.push_back(index);
        if (writePipe(best->commands, &i, sizeof i) == 0) return;
        giveUp(*best); // its blocks, this one included, are rendered here
        return;
    }
    local.push_back(index);
}

void blockPool_t::close() {
    if (closed) return;
    closed = true;
    for (worker_t& w : workers) closeFd(w.commands); // the pipe's end tells it to finish
}

void blockPool_t::giveUp(worker_t& w) {
    closeFd(w.commands);
    closeFd(w.blocks);
    reap(w.pid, true);
    local.insert(local.end(), w.held.begin(), w.held.end());
    w.held.clear();
}

void blockPool_t::readFrom(worker_t& w, std::vector<workerMessage_t>& done) {
    if (readWorkerMessage(w.blocks, ledger, 0, message) != workerFault_t::none) {
        giveUp(w);
        return;
    }
    if (message.isCounters()) {
        if (!w.held.empty()) {
            giveUp(w);
            return;
        }
        counters.rays += message.counters.rays;
        counters.hitted += message.counters.hitted;
        counters.leafs += message.counters.leafs;
        counters.leafst += message.counters.leafst;
        counters.bcount += message.counters.bcount;
        closeFd(w.commands);
        closeFd(w.blocks);
        reap(w.pid, false);
        return;
    }
    if (w.held.empty() || static_cast<std::size_t>(message.header.index) != w.held.front()) {
        giveUp(w);
        return;
    }
    w.held.pop_front();
    ledger.markDelivered(static_cast<std::size_t>(message.header.index));
    done.push_back(message);
}

void blockPool_t::step(int timeoutMs, std::vector<workerMessage_t>& done) {
    if (!local.empty()) {
        const std::size_t index = local.front();
        local.pop_front();
        workerMessage_t m;
        m.header = render(index, m.pixels);
        ledger.markDelivered(index);
        done.push_back(std::move(m));
        return;
    }
    std::vector<pollfd> fds;
    std::vector<worker_t*> owners;
    for (worker_t& w : workers)
        if (w.pid > 0) {
            fds.push_back({w.blocks, POLLIN, 0});
            owners.push_back(&w);
        }
    if (fds.empty()) {
        if (timeoutMs > 0) poll(nullptr, 0, timeoutMs);
        return;
    }
    if (poll(fds.data(), fds.size(), timeoutMs) <= 0) return;
    for (std::size_t i = 0; i < fds.size(); ++i)
        if (fds[i].revents != 0) readFrom(*owners[i], done);
}

} // namespace host
} // namespace vexlar
