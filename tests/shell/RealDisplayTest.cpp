// The built program under a real X server (Xvfb): started on the built-in
// library and on a library file, its main window must appear with the right
// caption; a screenshot of each is saved for a person to look at, and the
// program is ended through its process.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "RecorderTestSupport.h"
#include "ShellTestSupport.h"
#include "support/FileContents.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool OnPath(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Starts argv with the environment changed by env ("NAME=value" each), its
// output to log; the child's pid. Everything is made before the fork. The
// child is killed when the test program ends, however it ends (a crash, a
// kill), so that no server or editor outlives it. inherit: a descriptor the
// child keeps, or -1.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, const fs::path& log,
            int inherit = -1) {
    std::vector<std::string> vars;
    for (char** e = environ; *e; ++e) {
        const std::string var(*e);
        bool replaced = false;
        for (const std::string& set : env) replaced = replaced || var.substr(0, var.find('=')) == set.substr(0, set.find('='));
        if (!replaced) vars.push_back(var);
    }
    vars.insert(vars.end(), env.begin(), env.end());
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (const std::string& v : vars) envp.push_back(const_cast<char*>(v.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);  // the test ended before the line above
        if (inherit >= 0) ::fcntl(inherit, F_SETFD, 0);
        if (out >= 0) {
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
        }
        ::execvpe(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    if (out >= 0) ::close(out);
    return pid;
}

bool Running(pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) == 0; }

// Waits up to limit for done(), checking every tenth of a second.
template <class F>
bool WaitFor(F&& done, std::chrono::seconds limit) {
    for (auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
        if (done()) return true;
        std::this_thread::sleep_for(100ms);
    }
    return done();
}

std::string Output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        std::array<char, 4096> buffer{};
        size_t n = 0;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) text.append(buffer.data(), n);
        ::pclose(pipe);
    }
    return text;
}

class RealDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        if (!OnPath("Xvfb") || !OnPath("xwininfo")) GTEST_SKIP() << "Xvfb or xwininfo is not installed (scripts/setup installs them)";
        // The server picks a display nobody uses and writes its number to
        // the pipe once it takes connections: other test runs may start
        // servers at the same time.
        int ready[2];
        ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
        server = Spawn({"Xvfb", "-displayfd", std::to_string(ready[1]), "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
                       {}, dir / "xvfb.log", ready[1]);
        ::close(ready[1]);
        std::string number;
        for (auto end = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < end;) {
            pollfd wait{ready[0], POLLIN, 0};
            if (::poll(&wait, 1, 100) <= 0) continue;
            char c = 0;
            if (::read(ready[0], &c, 1) != 1 || c == '\n') break;
            number += c;
        }
        ::close(ready[0]);
        ASSERT_TRUE(!number.empty() && Running(server)) << testsupport::ReadText(dir / "xvfb.log");
        display = ":" + number;
    }
    void TearDown() override {
        if (program > 0 && Running(program)) {
            ::kill(program, SIGKILL);
            ::waitpid(program, nullptr, 0);
        }
        if (server > 0) {
            ::kill(server, SIGTERM);
            ::waitpid(server, nullptr, 0);
        }
    }

    // Runs the program on args in the test's folder until its main window is
    // shown with caption; saves a screenshot as NAME.png; ends it with SIGTERM.
    void RunUntilShown(const std::vector<std::string>& args, const std::string& caption, const std::string& name) {
        std::vector<std::string> argv{ZEPHRIN_BIN_DIR "/zephrin"};
        argv.insert(argv.end(), args.begin(), args.end());
        const fs::path log = dir / (name + ".log");
        const std::string here = fs::current_path().string();
        fs::current_path(dir.path());
        program = Spawn(argv, {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + display, "ASAN_OPTIONS=detect_leaks=0"}, log);
        fs::current_path(here);
        const std::string windows = "xwininfo -display " + display + " -root -tree 2>/dev/null";
        const std::string quoted = "\"" + caption + "\"";
        EXPECT_TRUE(WaitFor([&] { return Output(windows).find(quoted) != std::string::npos || !Running(program); }, 60s) &&
                    Running(program))
            << "no window " << quoted << "; the program wrote: " << testsupport::ReadText(log) << "\nwindows:\n"
            << Output(windows);
        std::this_thread::sleep_for(1500ms);  // drawn
        if (OnPath("import")) {
            const fs::path shots = fs::path(ZEPHRIN_BIN_DIR).parent_path() / "screenshots";
            fs::create_directories(shots);
            const std::string shot = "import -display " + display + " -window root '" + (shots / (name + ".png")).string() + "'";
            EXPECT_EQ(std::system(shot.c_str()), 0) << shot;
        }
        ASSERT_TRUE(Running(program)) << testsupport::ReadText(log);
        ASSERT_EQ(::kill(program, SIGTERM), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(program, &status, 0), program);
        program = -1;
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    }

    testsupport::TempDir dir;
    std::string display;
    pid_t server = -1;
    pid_t program = -1;
};

TEST_F(RealDisplay, TheProgramShowsItsMainWindowOnTheBuiltInLibraryAndOnAFile) {
    RunUntilShown({"stdole2.tlb"}, "Zephrin Type Library Editor - (stdole2.tlb)", "real-display-stdole2");
    const fs::path file = dir / "kinds.tlb";
    fs::copy_file(ZEPHRIN_TEST_DATA_DIR "/golden/kinds.tlb", file);
    RunUntilShown({"-tlb", file.string()}, "Zephrin Type Library Editor - (" + file.string() + ")",
                  "real-display-kinds");
    // With neither: the empty window.
    RunUntilShown({}, "Zephrin Type Library Editor - ()", "real-display-empty");
}

// A batch run whose second item fails (on a new library, which lacks the
// type it names): the history window shows, stopped at that item, and runs
// the rest once shown, which reports the missing type.
TEST_F(RealDisplay, ABatchRunThatStopsShowsItsHistoryWindow) {
    {
        ole::ComPtr<ole::ICreateTypeLib2> created = treetest::BuildAllKinds(ole::FromUtf8((dir / "in.tlb").string()));
        ASSERT_OK(created->SaveAllChanges());
    }
    recordertest::WriteTwoItemHistory(dir / "in.tlb", dir / "history.leh");
    RunUntilShown({"-leh", "history.leh", "-new", "-saveas", "out.tlb"},
                  "Library Edit History - (" + (dir / "history.leh").string() + ")", "real-display-history-stopped");
    EXPECT_FALSE(fs::exists(dir / "out.tlb"));
    // With -activate the history opens, not run, beside its main window.
    RunUntilShown({"-leh", "history.leh", "-tlb", "in.tlb", "-activate"},
                  "Zephrin Type Library Editor - (in.tlb)", "real-display-history-activated");
}

}  // namespace

namespace {

// Without a usable display the window ways name what is missing and exit
// with 2; batch mode needs no display (the application tests run it so).
TEST(NoDisplay, TheEditorSaysWhichDisplayIsMissing) {
    testsupport::TempDir dir;
    const auto run = [&](const std::string& env) {
        const std::string command = "cd '" + dir.path().string() + "' && timeout 60 env -u DISPLAY -u WAYLAND_DISPLAY " +
                                    env + " '" ZEPHRIN_BIN_DIR "/zephrin' -new 2>stderr.txt";
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << env;
        return testsupport::ReadText(dir / "stderr.txt");
    };
    EXPECT_NE(run("").find("neither DISPLAY nor WAYLAND_DISPLAY is set"), std::string::npos);
    EXPECT_NE(run("DISPLAY=:987 QT_QPA_PLATFORM=").find("the display ':987' can't be opened"), std::string::npos);
    EXPECT_NE(run("DISPLAY=:0 QT_QPA_PLATFORM=offscreen").find("QT_QPA_PLATFORM=offscreen shows no windows"),
              std::string::npos);
}

}  // namespace
