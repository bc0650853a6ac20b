// The vexlar program's display: progress in place on a terminal, plain
// lines off one, verbosity, and the progress of reading mesh files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "host/loadprogress.h"
#include "host/terminal.h"
#include "messagecapture.h"
#include "test_support.h"

using namespace vexlar;
using namespace vexlar::host;
using support::tempDir_t;

namespace {

// A display writing into memory, on a clock the test sets.
struct display_t {
    display_t(bool isTerminal, verbosity_t v) : file(open_memstream(&data, &size)) {
        t.reset(new terminal_t(file, isTerminal, v, [this] { return now; }));
    }
    ~display_t() {
        t.reset();
        std::fclose(file);
        std::free(data);
    }
    std::string text() {
        std::fflush(file);
        return std::string(data, size);
    }
    void progress(const char* pass, progressStage_t stage, long long done, long long total,
                  const char* text = "") {
        const progressEvent_t e{pass, stage, done, total};
        t->message(message_t{messageLevel_t::progress, messageStream_t::standardError, text, &e});
    }
    void say(messageLevel_t level, const char* text) {
        t->message(message_t{level, messageStream_t::standardError, text, nullptr});
    }
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* file;
    double now = 100;
    std::unique_ptr<terminal_t> t;
};

} // namespace

// The same events on a terminal (one line redrawn in place, now and then,
// and cleared) and off one (plain lines now and then).
TEST(progressDisplay, OnATerminalOneLineIsRedrawnOffOnePlainLines) {
    const std::string onTerminal = "\rRender pass    0%  0/40 blocks  0:00 elapsed\033[K"
                                   "\rRender pass   25%  10/40 blocks  0:03 elapsed  about 0:09 left\033[K"
                                   "\r\033[KRender worker 1 stopped before finishing its blocks\n"
                                   "\rRender pass   25%  10/40 blocks  0:03 elapsed  about 0:09 left\033[K"
                                   "\rRender pass   50%  20/40 blocks  0:11 elapsed  about 0:11 left\033[K"
                                   "\r\033[K\rDOF filter    0%  0:00 elapsed\033[K\r\033[K"
                                   "\rMesh tree ...\033[K\rMesh tree ...\033[K\r\033[K";
    const std::string offTerminal = "Render pass: 40 blocks\n"
                                    "Render worker 1 stopped before finishing its blocks\n"
                                    "Render pass: 50% (20/40 blocks, 0:11 elapsed, about 0:11 left)\n"
                                    "Render pass: done, 40 blocks in 0:14\n"
                                    "Mesh tree: 1:02:05 elapsed\n"
                                    "Mesh tree: done, 1:02:05\n";
    for (bool isTerminal : {true, false}) {
        display_t d(isTerminal, verbosity_t::normal);
        d.progress("Render pass", progressStage_t::begin, 0, 40);
        d.now += 0.05;
        d.progress("Render pass", progressStage_t::step, 1, 40); // too soon to redraw
        d.now += 2.95;
        d.progress("Render pass", progressStage_t::step, 10, 40);
        d.say(messageLevel_t::warning, "\nRender worker 1 stopped before finishing its blocks\n");
        d.now += 8;
        d.progress("Render pass", progressStage_t::step, 20, 40);
        d.now += 3;
        d.progress("Render pass", progressStage_t::end, 40, 40, "#]\n");
        // Off a terminal a filter says nothing unless it takes long.
        d.progress("DOF filter", progressStage_t::begin, 0, 3);
        d.progress("DOF filter", progressStage_t::end, 3, 3);
        d.progress("Mesh tree", progressStage_t::begin, 0, 0);
        d.now += 3725;
        d.progress("Mesh tree", progressStage_t::step, 0, 0);
        d.progress("Mesh tree", progressStage_t::end, 0, 0);
        EXPECT_EQ(d.text(), isTerminal ? onTerminal : offTerminal);
    }
}

TEST(progressDisplay, VerbosityChoosesWhatShows) {
    const std::string warnings = "[WARNING]:Unused param x in y\nerror\n";
    const std::string pass = "Render pass: 4 blocks\nRender pass: done, 4 blocks in 0:00\n";
    const std::vector<std::pair<verbosity_t, std::string>> cases = {
        {verbosity_t::quiet, warnings},
        {verbosity_t::normal, warnings + pass},
        {verbosity_t::verbose,
         "Building bounding tree ...\nObject count= 3\n" + warnings + pass + "Light setup ...\n"},
    };
    for (const auto& c : cases) {
        display_t d(false, c.first);
        d.progress("Object tree", progressStage_t::begin, 0, 0, "Building bounding tree ... ");
        d.say(messageLevel_t::info, "Object count= 3\n");
        d.progress("Object tree", progressStage_t::end, 0, 0, "OK\n");
        d.say(messageLevel_t::warning, "[WARNING]:Unused param x in y\n");
        d.say(messageLevel_t::error, "err");
        d.say(messageLevel_t::error, "or\n\n");
        d.progress("Render pass", progressStage_t::begin, 0, 4, "\rRender pass: [");
        d.progress("Render pass", progressStage_t::end, 4, 4, "#]\n");
        d.say(messageLevel_t::info, "Light setup ...");
        d.t.reset(); // the unfinished line shows at the end
        EXPECT_EQ(d.text(), c.second) << static_cast<int>(c.first);
    }
}

TEST(progressDisplay, ClockTexts) {
    const std::vector<std::pair<double, std::string>> cases = {
        {0, "0:00"}, {-3, "0:00"}, {59.9, "0:59"}, {61, "1:01"}, {3600, "1:00:00"}, {1.0 / 0.0, "0:00"}};
    for (const auto& c : cases) EXPECT_EQ(clockText(c.first), c.second) << c.first;
}

TEST(progressDisplay, MeshFilesReportTheBytesRead) {
    tempDir_t dir;
    const std::string text(200000, 'x');
    const std::string path = dir.write("big.obj", text);
    fixtures::messageCapture_t captured;
    {
        progressFile_t in(path);
        std::string read((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(read, text);
        in.clear();
        in.seekg(0);
        EXPECT_EQ(in.get(), 'x') << "seeking back to the start reads again";
    }
    const auto p = captured.progress("Reading big.obj");
    ASSERT_GE(p.size(), 5u);
    EXPECT_EQ(p.front().stage, progressStage_t::begin);
    EXPECT_EQ(p.back().stage, progressStage_t::end);
    for (const auto& m : p) EXPECT_EQ(m.total, 200000);
    EXPECT_EQ(p[p.size() - 2].done, 0) << "the read from the start again";
    EXPECT_FALSE(progressFile_t(dir.path + "/missing.obj"));
}
