// The library's output: the default sink's exact bytes, levels and streams,
// the progress events of the passes, messages of forked workers and the
// loader's errors as values.
#include <gtest/gtest.h>

#include <unistd.h>

#include "messagecapture.h"
#include "scene_fixtures.h"
#include "vexlarcore/buffer.h"
#include "vexlarcore/forkedscene.h"
#include "vexlarcore/params.h"
#include "vexlarcore/pluginregistry.h"
#include "vexlarcore/sharedlibrary.h"

using namespace vexlar;
using namespace fixtures;

namespace {

// An 11 x 1 block image (704 x 64) of one object lit by one light, so that a
// pass draws one "#" mark, rendered serially or by `workers` processes.
struct stripScene_t {
    explicit stripScene_t(int workers = 1) {
        scene.setWorkers(workers);
        wall.shader = &shader;
        scene.addObject(&wall);
        scene.addLight(&lamp);
        scene.setCamera(&cam);
    }
    camera_t cam{point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), 704, 64, 1.0f};
    lambertShader_t shader{color_t(0.5f)};
    fakeObject_t wall{bound_t(point3d_t(-50, -50, -6), point3d_t(50, 50, -4)), 5.0f};
    pointLight_t lamp{point3d_t(0, 5, 0), color_t(1.0f)};
    forkedscene_t scene;
};

const std::string renderOut = "Building bounding tree ... Object count= 1\nOK\nLight setup ...\n\n\n"
                              "\rRender pass: [##]\n";
const std::string renderErr = "Using a world resolution of 0.00142045 per unit\n"
                              "Setting up lights ...\nFinished setting up lights\n";

} // namespace

TEST(messageSink, EachMessageHasItsLevelAndStream) {
    struct case_t {
        const char* what;
        std::function<void()> run;
        messageLevel_t level;
        messageStream_t stream;
        std::string text;
    };
    const messageStream_t out = messageStream_t::standardOutput, err = messageStream_t::standardError;
    const std::vector<case_t> cases = {
        {"unused parameter",
         [] {
             paramMap_t p;
             p["x"] = parameter_t(1.0f);
             p.checkUnused("e");
         },
         messageLevel_t::warning, out, "[WARNING]:Unused param x in e\n"},
        {"unsorted box", [] { bound_t(point3d_t(1, 0, 0), point3d_t(0, 1, 1)).vol(); },
         messageLevel_t::warning, out, "warning usorted bounding points\n"},
        {"colour buffers of two sizes", [] { cBuffer_t(1, 2) = cBuffer_t(2, 1); }, messageLevel_t::error, err,
         "Error, trying to assign buffers of a diferent size\n"},
        {"depth buffers of two sizes", [] { fBuffer_t(1, 2) = fBuffer_t(2, 1); }, messageLevel_t::error, out,
         "Error, trying to assign  buffers of a diferent size\n"},
        {"no camera",
         [] {
             recordingOutput_t o;
             scene_t s;
             s.render(o);
         },
         messageLevel_t::error, err,
         "Error: the scene has no camera; set one with setCamera before rendering\n"},
        {"too wide a Targa file", [] { outTga_t(70000, 0, "/nonexistent/x.tga", false).flush(); },
         messageLevel_t::error, err,
         "[ERROR]: image size 70000 x 0 does not fit a Targa file (at most 65535 x 65535)\n"},
    };
    for (const case_t& c : cases) {
        messageCapture_t captured;
        c.run();
        std::string text;
        for (const capturedMessage_t& m : captured.messages)
            if (m.level == c.level && m.stream == c.stream) text += m.text;
        EXPECT_NE(text.find(c.text), std::string::npos) << c.what << ": got \"" << text << "\"";
    }
}

// What the default sink really writes on the two streams during a render,
// and the progress events behind it; a message a worker emits reaches the
// parent's sink.
TEST(messageSink, RenderPassesPrintTheClassicOutputAndReportBlocksDone) {
    for (int workers : {1, 2}) {
        SCOPED_TRACE(workers == 1 ? "in this process" : "two workers");
        messageCapture_t captured;
        captured.passOn = defaultMessageSink;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        stripScene_t s(workers);
        const pid_t parent = getpid();
        s.wall.accept = [parent, said = false](renderState_t&) mutable {
            if (!said)
                emitMessage(messageLevel_t::warning, messageStream_t::standardError,
                            getpid() == parent ? "parent\n" : "worker\n");
            said = true;
            return true;
        };
        recordingOutput_t out;
        s.scene.render(out);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), renderOut);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  renderErr + (workers == 1 ? "parent\n" : "worker\nworker\n"));
        captured.passOn = nullptr;
        EXPECT_EQ(out.calls.size(), 704u * 64u);
        const std::vector<capturedMessage_t> p = captured.progress("Render pass");
        ASSERT_EQ(p.size(), 12u) << "begin, ten steps, end";
        for (std::size_t i = 0; i < p.size(); ++i) {
            EXPECT_EQ(p[i].done, static_cast<long long>(i == 11 ? 11 : i)) << i;
            EXPECT_EQ(p[i].total, 11);
        }
        EXPECT_EQ(p.front().stage, progressStage_t::begin);
        EXPECT_EQ(p.back().stage, progressStage_t::end);
        EXPECT_EQ(captured.progress("Object tree").size(), 2u);

        // Refusing pixels aborts the pass after the first block.
        captured.clear();
        out.failAt = 64 * 64 + 1;
        out.calls.clear();
        s.scene.render(out);
        const std::vector<capturedMessage_t> a = captured.progress("Render pass");
        ASSERT_FALSE(a.empty());
        EXPECT_EQ(a.back().stage, progressStage_t::aborted);
        EXPECT_EQ(a.back().text, "Aborted\n");
    }
}

TEST(loaderErrors, AreValuesAndTheQuietFormsPrintNothing) {
    messageCapture_t captured;
    sharedlibrary_t lib;
    EXPECT_FALSE(lib.openQuietly("/nonexistent/module.so"));
    EXPECT_EQ(lib.lastError(),
              "/nonexistent/module.so: cannot open shared object file: No such file or directory");
    EXPECT_TRUE(captured.messages.empty());
    lib.open("");
    EXPECT_EQ(lib.lastError(), "dlsimple: Can not open \"\"");
    EXPECT_EQ(captured.text(messageLevel_t::error), "dyld: \ndlerror: dlsimple: Can not open \"\"\n");

    captured.clear();
    pluginManager_t plugins;
    EXPECT_EQ(plugins.lastError(), "");
    EXPECT_FALSE(plugins.loadModule("/nonexistent/module.so"));
    const std::string line = "/nonexistent/module.so: cannot be loaded: No such file or directory";
    EXPECT_EQ(plugins.lastError(), line);
    ASSERT_EQ(captured.messages.size(), 1u) << "the loader itself says nothing";
    EXPECT_EQ(captured.messages[0].level, messageLevel_t::warning);
    EXPECT_EQ(captured.messages[0].text, line + "\n");
}

TEST(messageSink, ReplacingAndRestoringTheSink) {
    int outer = 0, inner = 0;
    messageSink_t previous = setMessageSink([&](const message_t&) { ++outer; });
    EXPECT_FALSE(previous) << "the default is reported as an empty sink";
    {
        messageSinkScope_t scope([&](const message_t& m) {
            ++inner;
            if (m.text == "again") emitMessage(messageLevel_t::info, m.stream, "nested");
        });
        emitMessage(messageLevel_t::info, messageStream_t::standardError, "again");
    }
    emitMessage(messageLevel_t::info, messageStream_t::standardError, "x");
    EXPECT_EQ(inner, 2) << "a sink may emit from inside itself";
    EXPECT_EQ(outer, 1);
    EXPECT_TRUE(setMessageSink(previous));
}
