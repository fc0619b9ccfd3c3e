// The fault handler in child processes that really fault: the log keeps one text per fault.
#include "Platform_Crash.h"
#include "Platform_Library.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
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

TEST_F(CrashLog, UnwritableLogStillReportsOnStderr) {
    fs::create_directories(folder / "Zelvik_Error.log"); // a folder where the file should be
    EXPECT_EXIT(
        {
            Platform_Crash_Install("Zelvik_Error.log");
            WriteToLowAddress();
        },
        ::testing::ExitedWithCode(kPlatformCrashExitCode), "TargetAddress: \\$0000000000000010");
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
