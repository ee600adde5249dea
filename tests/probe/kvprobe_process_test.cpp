// kvprobe run as a process: its exit status and the verdict it ends with.

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_env.h"

namespace kelvara {
namespace {

using test::ScopedEnv;

struct ProgramRun {
    std::optional<int> status;  // nothing: killed after the time limit, or died of a signal
    std::string out;
    std::string err;
};

std::string read_file(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs kvprobe with args in this process's environment, for at most 10 s.
ProgramRun run_kvprobe(const std::vector<std::string>& args)
{
    const std::string program = test::bin_dir() + "/kvprobe";
    const std::string out_path = test::temp_dir() + "/kvprobe.out";
    const std::string err_path = test::temp_dir() + "/kvprobe.err";
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    ProgramRun run;
    pid_t pid = ::fork();
    if (pid < 0)
        return run;
    if (pid == 0) {
        int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
            ::_exit(127);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (done == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    } else if (done == pid && WIFEXITED(status)) {
        run.status = WEXITSTATUS(status);
    }
    run.out = read_file(out_path);
    run.err = read_file(err_path);
    return run;
}

std::string last_line(const std::string& text)
{
    if (text.empty())
        return {};
    std::string trimmed = text.substr(0, text.size() - 1);
    return trimmed.substr(trimmed.rfind('\n') + 1);
}

TEST(KvprobeProcess, ExitStatusAndVerdict)
{
    struct Case {
        const char* device;
        std::vector<std::string> args;
        int status;
        std::string out_last;    // the last line of standard output
        std::string err_first;   // the start of standard error
    } cases[] = {
        {"sim:21.5,-,nak", {}, 0, "Verdict: the port works and 1 chip answers (sensor 1).", ""},
        {"/nonexistent", {}, 1, "Verdict: COM3 cannot be opened: no such device.", ""},
        {"sim:21.5", {"-com", "9"}, 2, "", "probe: COM port must be 1 to 4, not 9\n"},
        {"sim:21.5", {"-help"}, 0, "             2 a bad command line.", ""},
    };
    for (const Case& c : cases) {
        ScopedEnv device("KELVARA_COM3", c.device);
        ProgramRun run = run_kvprobe(c.args);
        ASSERT_TRUE(run.status.has_value()) << c.device << ": did not exit in time";
        EXPECT_EQ(*run.status, c.status) << c.device << "\n" << run.out << run.err;
        EXPECT_EQ(last_line(run.out), c.out_last) << c.device;
        EXPECT_EQ(run.err.substr(0, c.err_first.size()), c.err_first) << c.device;
        if (c.err_first.empty()) {
            EXPECT_EQ(run.err, "") << c.device;
        }
    }
}

TEST(KvprobeProcess, ComOptionPicksThePort)
{
    ScopedEnv com1("KELVARA_COM1", "sim:-,-,-,-,19");
    ScopedEnv com3("KELVARA_COM3", "sim:");
    ProgramRun run = run_kvprobe({"-com", "1"});
    ASSERT_TRUE(run.status.has_value());
    EXPECT_EQ(*run.status, 0) << run.out;
    EXPECT_NE(run.out.find("   sensor 5 at 0x98: present, 19.0 C, 66.2 F\n"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace kelvara
