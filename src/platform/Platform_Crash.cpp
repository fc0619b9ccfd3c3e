#include "Platform_Crash.h"

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <initializer_list>
#include <ucontext.h>
#include <unistd.h>

namespace {

char logPath[256];
// Room for the message box's own calls as well.
alignas(16) char alternateStack[256 * 1024];

// The message box comes from SDL when the host program has it and its video is running;
// looked up at install time, since nothing may be looked up inside the handler.
using ShowBoxFn = int (*)(uint32_t flags, const char* title, const char* text, void* window);
using WasInitFn = uint32_t (*)(uint32_t flags);
ShowBoxFn showBox = nullptr;
WasInitFn wasInit = nullptr;
constexpr uint32_t kSdlInitVideo = 0x20;
constexpr uint32_t kSdlMessageBoxError = 0x10;

// A fixed buffer filled without allocation: everything here runs inside a signal handler.
struct Text {
    char bytes[1024];
    size_t length = 0;

    void Add(const char* s) {
        while (*s && length < sizeof bytes) bytes[length++] = *s++;
    }
    void AddHex(uintptr_t v) {
        char digits[2 * sizeof v];
        for (size_t i = 0; i < sizeof digits; ++i) {
            digits[sizeof digits - 1 - i] = "0123456789ABCDEF"[v & 0xF];
            v >>= 4;
        }
        for (char d : digits)
            if (length < sizeof bytes) bytes[length++] = d;
    }
};

void WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

const char* Describe(int signo, int code) {
    switch (signo) {
    case SIGSEGV:
        return "Access violation";
    case SIGBUS:
        return "Bus error (misaligned or missing memory)";
    case SIGILL:
        return "Illegal instruction";
    case SIGFPE:
        switch (code) {
        case FPE_INTDIV:
            return "Integer division by zero";
        case FPE_INTOVF:
            return "Integer overflow";
        case FPE_FLTDIV:
            return "Floating-point division by zero";
        default:
            return "Floating-point fault";
        }
    default:
        return "Unknown fault";
    }
}

uintptr_t FaultingInstruction(void* context) {
    if (!context) return 0;
    const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.pc);
#else
    (void)uc;
    return 0;
#endif
}

void OnFault(int signo, siginfo_t* info, void* context) {
    Text text;
    text.Add("Error: ");
    text.Add(Describe(signo, info ? info->si_code : 0));
    text.Add("\r\n\r\nAddress: $");
    text.AddHex(FaultingInstruction(context));
    // The source file and line are not known from a running binary.
    text.Add("\r\nFile: \r\nLine: \r\nTargetAddress: $");
    text.AddHex(info ? reinterpret_cast<uintptr_t>(info->si_addr) : 0);
    text.Add("\r\n");

    const int fd = open(logPath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
        WriteAll(fd, text.bytes, text.length);
        close(fd);
        // Shown, not logged.
        text.Add("\r\nError message has been saved to \"");
        text.Add(logPath);
        text.Add("\"\r\n");
    }
    WriteAll(STDERR_FILENO, text.bytes, text.length);
    // Best effort: the process is ending anyway, so a box that cannot be shown costs nothing.
    if (showBox && wasInit && wasInit(kSdlInitVideo)) {
        text.length = text.length < sizeof text.bytes ? text.length : sizeof text.bytes - 1;
        text.bytes[text.length] = 0;
        showBox(kSdlMessageBoxError, "", text.bytes, nullptr);
    }
    _exit(kPlatformCrashExitCode);
}

} // namespace

bool Platform_Crash_Install(const char* logName) {
    if (!logName) return false;
    std::strncpy(logPath, logName, sizeof logPath - 1);
    logPath[sizeof logPath - 1] = 0;

    showBox = reinterpret_cast<ShowBoxFn>(dlsym(RTLD_DEFAULT, "SDL_ShowSimpleMessageBox"));
    wasInit = reinterpret_cast<WasInitFn>(dlsym(RTLD_DEFAULT, "SDL_WasInit"));

    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    if (sigaltstack(&stack, nullptr) != 0) return false;

    struct sigaction action {};
    action.sa_sigaction = OnFault;
    // A fault inside the handler itself ends the process the default way instead of looping.
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    bool ok = true;
    for (int signo : {SIGSEGV, SIGBUS, SIGFPE, SIGILL})
        ok = sigaction(signo, &action, nullptr) == 0 && ok;
    return ok;
}
