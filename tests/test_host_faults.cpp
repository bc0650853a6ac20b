// Faults injected into whole runs of the vexlar program: Ctrl-C once and
// twice during the render and during set-up, output to a full device and
// past a file size limit, and a plug-in folder holding broken modules. Every
// run must end (a watchdog here kills a run that hangs and fails the test),
// say what happened, leave no worker process and no temporary file, and keep
// what it must keep.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "host_png.h"
#include "test_support.h"

namespace {

using namespace support;

const std::string program = VEXLAR_HOST_PROGRAM;
const std::string dataDir = VEXLAR_TEST_DATA_DIR;

// One run of the program on `args` in the folder `cwd`, its standard output
// and error in files beside that folder; a limit on the size of the files it
// writes when `fileSizeLimit` is given.
class run_t {
public:
    run_t(const std::vector<std::string>& args, const std::string& cwd, rlim_t fileSizeLimit = RLIM_INFINITY)
        : outPath(cwd + "/../stdout.txt"), errPath(cwd + "/../stderr.txt") {
        // Opened here, so that no reader sees the files of an earlier run.
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid = fork();
        if (pid != 0) {
            close(out);
            close(err);
            return;
        }
        if (chdir(cwd.c_str()) != 0) _exit(127);
        dup2(out, 1);
        dup2(err, 2);
        close(out);
        close(err);
        if (fileSizeLimit != RLIM_INFINITY) {
            // A write past the limit fails with EFBIG instead of ending the program.
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{fileSizeLimit, fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    ~run_t() {
        if (pid > 0 && status < 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    }

    // Waits until `text` appears on either stream (progress goes to standard
    // error) or the run ends; false after `seconds` without it.
    bool waitFor(const std::string& text, double seconds = 60) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        for (bool last = false; !last; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
            last = ended() || std::chrono::steady_clock::now() > end;
            if (contains(slurp(outPath) + slurp(errPath), text)) return true;
        }
        return false;
    }
    // The exit status (128 + signal when killed); -1 for a run still going
    // after `seconds`, which the destructor kills.
    int finish(double seconds = 60) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!ended() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        out = slurp(outPath);
        err = slurp(errPath);
        if (!ended()) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // The program's own children: its render workers.
    std::vector<pid_t> children() const {
        std::vector<pid_t> found;
        for (const auto& e : std::filesystem::directory_iterator("/proc")) {
            std::ifstream stat(e.path() / "stat");
            std::string line;
            int parent = 0;
            if (std::getline(stat, line) &&
                std::sscanf(line.c_str() + line.rfind(')') + 1, " %*c %d", &parent) == 1 && parent == pid)
                found.push_back(std::atoi(e.path().filename().c_str()));
        }
        return found;
    }

    pid_t pid = -1;
    std::string out, err;

private:
    bool ended() {
        if (status >= 0) return true;
        int s = 0;
        if (waitpid(pid, &s, WNOHANG) != pid) return false;
        status = s;
        return true;
    }
    std::string outPath, errPath;
    int status = -1;
};

// Whether the process is gone (or a zombie waiting for its new parent).
bool gone(pid_t p) {
    for (int tries = 0; tries < 200; ++tries) {
        std::ifstream stat("/proc/" + std::to_string(p) + "/stat");
        std::string line;
        if (!std::getline(stat, line)) return true;
        if (line.substr(line.rfind(')') + 2, 1) == "Z") return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Entries of the folder whose name holds ".tmp", as one string.
std::string temporaries(const std::string& folder) {
    std::string t;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (contains(e.path().filename(), ".tmp")) t += " " + e.path().filename().string();
    return t;
}

class hostFaults : public ::testing::Test {
protected:
    void SetUp() override {
        if (program.empty() || std::string(VEXLAR_HOST_PLUGIN_DIR).empty())
            GTEST_SKIP() << "the program or the plug-ins are not part of this build";
        ASSERT_FALSE(dir.path.empty());
        work = dir.path + "/work";
        ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    }
    tempDir_t dir;
    std::string work;
};

} // namespace

TEST_F(hostFaults, CtrlCOnceOrTwiceEndsEveryWorkerAndKeepsThePartialImage) {
    for (int signals : {1, 2}) {
        SCOPED_TRACE(std::to_string(signals) + " SIGINT");
        // A render far too big to finish soon.
        run_t r({"-j", "2", "--size", "2000x1500", "--set", "render.antialiasing.samples=16", "--set",
                 "render.antialiasing.threshold=0", "-o", "big.png", dataDir + "/host_small.json"},
                work);
        ASSERT_TRUE(r.waitFor("Render pass")) << r.out;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const std::vector<pid_t> workers = r.children();
        EXPECT_EQ(workers.size(), 2u) << "the workers are running";
        for (int i = 0; i < signals; ++i) kill(r.pid, SIGINT);
        EXPECT_EQ(r.finish(), 130) << r.err;
        EXPECT_TRUE(contains(r.err, "interrupted; the blocks finished so far are in \"big.partial.png\""))
            << r.err;
        image_t partial;
        EXPECT_TRUE(readPng(work + "/big.partial.png", partial));
        EXPECT_EQ(partial.width, 2000);
        for (pid_t w : workers) EXPECT_TRUE(gone(w)) << "worker " << w << " left running";
        EXPECT_EQ(temporaries(work), "") << "temporary files left";
        unlink((work + "/big.partial.png").c_str());
    }
}

TEST_F(hostFaults, CtrlCDuringSetUpEndsTheProgram) {
    // 20,000 spheres keep the object tree's build busy for seconds. One
    // SIGINT ends the program after the grace time at the latest, a third
    // at once.
    {
        std::ofstream scene(work + "/scene.json");
        scene << R"({"camera": {"resolution": [32, 24]}, "objects": {)";
        for (int i = 0; i < 20000; ++i)
            scene << (i ? "," : "") << "\"s" << i << "\": {\"type\": \"sphere\", \"center\": [" << i % 137
                  << ", " << (i * 7919) % 211 << ", " << i % 97 << "], \"radius\": 0.3}";
        scene << "}}";
    }
    for (int signals : {1, 3}) {
        SCOPED_TRACE(std::to_string(signals) + " SIGINT");
        run_t r({"-j", "2", "-o", "out.png", "scene.json"}, work);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        for (int i = 0; i < signals; ++i) {
            kill(r.pid, SIGINT);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        const int status = r.finish(20);
        EXPECT_TRUE(status == 130 || status == 1) << "status " << status << ": " << r.err;
        EXPECT_TRUE(contains(r.err, "vexlar: ")) << "a message says why: " << r.err;
        EXPECT_EQ(access((work + "/out.png").c_str(), F_OK), -1);
    }
}

TEST_F(hostFaults, OutputFailuresAreClearAndKeepTheEarlierImage) {
    const std::string earlier = "an earlier image";
    std::ofstream(work + "/kept.png") << earlier;
    ASSERT_EQ(symlink("/dev/full", (work + "/full.png").c_str()), 0);
    const struct {
        const char* name;
        std::string output;
        rlim_t limit;
        const char* said;
    } cases[] = {
        {"a full device", "full.png", RLIM_INFINITY, "No space left on device"},
        {"a file size limit", "kept.png", 2000, "cannot write \"kept.png\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        run_t r({"-j", "2", "--size", "60x40", "-o", c.output, dataDir + "/host_small.json"}, work, c.limit);
        EXPECT_EQ(r.finish(), 1) << r.err;
        EXPECT_TRUE(contains(r.err, c.said)) << r.err;
        EXPECT_EQ(slurp(work + "/kept.png"), earlier) << "the earlier image is intact";
        struct stat st;
        EXPECT_TRUE(lstat((work + "/full.png").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
        EXPECT_EQ(temporaries(work), "") << "temporary files left";
    }
}

TEST_F(hostFaults, BrokenPluginModulesAreReportedAndTheOthersLoad) {
    const std::string plugins = work + "/plugins";
    ASSERT_EQ(mkdir(plugins.c_str(), 0755), 0);
    // A program passes the file checks (an ELF file of this machine) but the
    // system loader refuses it, and says so: off the listing.
    std::ofstream(plugins + "/true.so", std::ios::binary) << slurp("/bin/true");
    // Cut copies of a real module and a text file are refused before that.
    const std::string real = slurp(std::string(VEXLAR_HOST_PLUGIN_DIR) + "/shader_generic.so");
    ASSERT_GT(real.size(), 65536u);
    for (std::size_t n : {16, 4096, 65536})
        std::ofstream(plugins + "/cut" + std::to_string(n) + ".so", std::ios::binary) << real.substr(0, n);
    std::ofstream(plugins + "/notes.so") << "not a library at all\n";
    for (const char* f : {"fx1_good.so", "fx3_throws.so", "fx5_noentry.so"})
        std::ofstream(plugins + "/" + f, std::ios::binary)
            << slurp(std::string(VEXLAR_FIXTURE_DIR) + "/" + f);
    run_t r({"--no-standard-plugins", "--plugins", plugins, "--list-plugins"}, work);
    EXPECT_EQ(r.finish(), 0) << r.err;
    for (const char* f : {"fx3_throws.so", "fx5_noentry.so",
                          "true.so: cannot be loaded: ", "cut16.so: cannot be loaded: not an ELF file",
                          "cut4096.so: cannot be loaded: the file is truncated",
                          "cut65536.so: cannot be loaded: the file is truncated",
                          "notes.so: cannot be loaded: not an ELF file"})
        EXPECT_TRUE(contains(r.err, f)) << f << " is reported: " << r.err;
    EXPECT_FALSE(contains(r.err, "fx1_good.so")) << r.err;
    EXPECT_EQ(r.out.rfind("Shaders:", 0), 0u) << r.out;
    EXPECT_FALSE(contains(r.out, "dyld")) << r.out;
    EXPECT_TRUE(contains(r.out, "fx_shader")) << "the good module loads: " << r.out;
}
