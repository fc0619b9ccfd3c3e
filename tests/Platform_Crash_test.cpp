// The fault handler in child processes that really fault: the log keeps one text per fault.
#include "Platform_Crash.h"
#include "Platform_Library.h"

#include <gtest/gtest.h>

#include <sched.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Runs each test in its own empty working folder, where the log is written.
class CrashLog : public ::testing::Test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "fast"); // the child keeps this working folder
        previous = fs::current_path();
        folder = fs::temp_directory_path() /
                 ("zelvik_crash_" + std::to_string(getpid()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        fs::current_path(folder);
    }
    void TearDown() override {
        fs::current_path(previous);
        fs::remove_all(folder);
    }
    std::string Log() const {
        std::ifstream in(folder / "Zelvik_Error.log", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    fs::path previous, folder;
};

// The lines below that fault, as the log must name them.
constexpr int kWriteLine = __LINE__ + 4;
[[noreturn]] void WriteToLowAddress() {
    // Read back through a volatile so the optimiser cannot see (and reject) the address.
    volatile uintptr_t address = 16;
    *reinterpret_cast<volatile int*>(address) = 1;
    std::abort();
}

constexpr int kTrapLine = __LINE__ + 2;
[[noreturn]] void IllegalInstruction() {
    __builtin_trap();
}

constexpr int kAbortLine = __LINE__ + 3;
[[noreturn]] void FailedCheck(int value) {
    // As an assertion or std::terminate ends the program.
    if (value != 0) std::abort();
    std::exit(0);
}

// "File: <path of this source>\r\nLine: <n>\r\n"
std::string Where(int line) {
    return "\r\nFile: [^\r\n]*tests/Platform_Crash_test\\.cpp\r\nLine: " + std::to_string(line) +
           "\r\n";
}

const std::string kHex = "\\$[0-9A-F]{16}";

TEST_F(CrashLog, AccessViolationLeavesTheTextWithBothAddresses) {
    EXPECT_EXIT(
        {
            Platform_Crash_Install("Zelvik_Error.log");
            WriteToLowAddress();
        },
        ::testing::ExitedWithCode(kPlatformCrashExitCode),
        "Error: Access violation.*Error message has been saved to \"Zelvik_Error.log\"");
    const std::string log = Log();
    const std::regex text(
        "Error: Access violation in [^\r\n]*WriteToLowAddress(\\(\\))?\r\n\r\nAddress: " + kHex +
        Where(kWriteLine) + "TargetAddress: \\$0000000000000010\r\n");
    EXPECT_TRUE(std::regex_match(log, text)) << log;
    // The address is that of the faulting code, not zero.
    EXPECT_EQ(log.find("Address: $0000000000000000"), std::string::npos);
    EXPECT_EQ(log.find("saved to"), std::string::npos); // shown, not logged
}

TEST_F(CrashLog, TwoFaultsLeaveTwoTextsInOrder) {
    std::ofstream(folder / "Zelvik_Error.log", std::ios::binary) << "earlier\r\n";
    EXPECT_EXIT(
        {
            Platform_Crash_Install("Zelvik_Error.log");
            WriteToLowAddress();
        },
        ::testing::ExitedWithCode(kPlatformCrashExitCode), "Access violation");
    EXPECT_EXIT(
        {
            Platform_Crash_Install("Zelvik_Error.log");
            IllegalInstruction();
        },
        ::testing::ExitedWithCode(kPlatformCrashExitCode), "Illegal instruction");
    const std::string target = "TargetAddress: " + kHex + "\r\n";
    const std::regex both(
        "earlier\r\nError: Access violation in [^\r\n]*\r\n\r\nAddress: " + kHex +
        Where(kWriteLine) + target +
        "Error: Illegal instruction in [^\r\n]*IllegalInstruction(\\(\\))?\r\n\r\n"
        "Address: " +
        kHex + Where(kTrapLine) + target);
    EXPECT_TRUE(std::regex_match(Log(), both)) << Log();
}

TEST_F(CrashLog, AbortIsLoggedAtTheLineThatCalledIt) {
    EXPECT_EXIT(
        {
            Platform_Crash_Install("Zelvik_Error.log");
            FailedCheck(1);
        },
        ::testing::ExitedWithCode(kPlatformCrashExitCode), "Abnormal termination");
    const std::regex text(
        "Error: Abnormal termination \\(abort\\) in [^\r\n]*FailedCheck(\\(int\\))?"
        "\r\n\r\nAddress: " +
        kHex + Where(kAbortLine) + "TargetAddress: \\$\r\n");
    EXPECT_TRUE(std::regex_match(Log(), text)) << Log();
}

// Runs prepare, then a fault, in a child process; gives its standard error, or "skipped" when
// prepare could not set the case up.
std::string CrashWithLogIn(bool (*prepare)()) {
    int err[2];
    if (pipe(err) != 0) return "no pipe";
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) return "no fork";
    if (child == 0) {
        alarm(60); // a deadline, whatever happens
        dup2(err[1], 2);
        close(err[0]);
        close(err[1]);
        if (!prepare()) _exit(77);
        Platform_Crash_Install("Zelvik_Error.log");
        WriteToLowAddress();
    }
    close(err[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
    close(err[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) return "skipped";
    if (!WIFEXITED(status) || WEXITSTATUS(status) != kPlatformCrashExitCode)
        text += "\n[status " + std::to_string(status) + "]";
    return text;
}

constexpr const char* kOldLog = "an earlier report\r\n";

// A log that cannot take the report: the report still reaches standard error, with why it was
// not saved, and never the claim that it was; the log keeps no cut text.
TEST_F(CrashLog, ReportThatCannotBeSavedSaysWhyOnStderr) {
    const std::regex report("Error: Access violation[^]*TargetAddress: \\$0000000000000010\r\n");
    const auto check = [&](const std::string& text, const char* reason) {
        EXPECT_TRUE(std::regex_search(text, report)) << text;
        EXPECT_TRUE(std::regex_search(
            text, std::regex(std::string("\r\nCould not save the error message to "
                                         "Zelvik_Error.log: (") +
                             reason + ")\r\n$")))
            << text;
        EXPECT_EQ(text.find("has been saved"), std::string::npos) << text;
    };

    // A folder where the file should be.
    fs::create_directories(folder / "Zelvik_Error.log");
    check(CrashWithLogIn([] { return true; }), "Is a directory");
    fs::remove(folder / "Zelvik_Error.log");

    // A file-size limit (for root too) that the old log already fills but for a few bytes:
    // without SIGXFSZ ignored the process would die with no report at all.
    std::ofstream(folder / "Zelvik_Error.log", std::ios::binary) << kOldLog;
    check(CrashWithLogIn([] {
              rlimit limit{};
              getrlimit(RLIMIT_FSIZE, &limit);
              limit.rlim_cur = std::strlen(kOldLog) + 40;
              return setrlimit(RLIMIT_FSIZE, &limit) == 0;
          }),
          "File too large");
    EXPECT_EQ(Log(), kOldLog);

    // A full disk: a tiny tmpfs in a mount namespace of the child's own (root only).
    fs::create_directories(folder / "disk");
    const std::string full = CrashWithLogIn([] {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", "disk", "tmpfs", 0, "size=64k") != 0 || chdir("disk") != 0)
            return false;
        // A whole page, so the report needs one more that the disk has not got.
        std::ofstream("Zelvik_Error.log", std::ios::binary) << std::string(4096, 'o');
        FILE* fill = std::fopen("filler", "wb");
        if (!fill) return false;
        std::setvbuf(fill, nullptr, _IONBF, 0);
        const std::string page(4096, 'f');
        while (std::fwrite(page.data(), 1, page.size(), fill) == page.size()) {
        }
        std::fclose(fill);
        return true;
    });
    if (full != "skipped") check(full, "No space left on device");
}

TEST_F(CrashLog, EngineLibraryInstallsTheHandlerWhenLoaded) {
    const std::string engine = std::string(ZELVIK_GAME_DIR) + "/dlls/zelvik_engine.so";
    EXPECT_EXIT(
        {
            if (!Platform_Library_Open(engine)) std::_Exit(50);
            WriteToLowAddress();
        },
        ::testing::ExitedWithCode(kPlatformCrashExitCode), "Access violation");
    EXPECT_NE(Log().find("TargetAddress: $0000000000000010\r\n"), std::string::npos) << Log();
}

} // namespace
