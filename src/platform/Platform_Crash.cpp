#include "Platform_Crash.h"

#include <dwarf.h>
#include <elfutils/libdwfl.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <filesystem>
#include <initializer_list>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

namespace {

char logPath[256];
// Room for the message box's own calls as well.
alignas(16) char alternateStack[256 * 1024];
std::atomic<int> handling{0};

// The message box comes from SDL when the host program has it and its video is running;
// looked up at install time, since nothing may be looked up inside the handler.
using ShowBoxFn = int (*)(uint32_t flags, const char* title, const char* text, void* window);
using WasInitFn = uint32_t (*)(uint32_t flags);
ShowBoxFn showBox = nullptr;
WasInitFn wasInit = nullptr;
constexpr uint32_t kSdlInitVideo = 0x20;
constexpr uint32_t kSdlMessageBoxError = 0x10;

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
// How long the dying process waits for the source location before logging without it.
constexpr int kSymboliseMilliseconds = 5000;

// A fixed buffer filled without allocation: everything here runs inside a signal handler.
struct Text {
    char bytes[2048];
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

// 0 when every byte went out, else the error.
int WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

// Appends text to the log; 0 when it is all there, else the error. A text cut short by a full
// disk is taken out again, so the log holds whole reports only.
int AppendToLog(const Text& text) {
    const int fd = open(logPath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    const off_t before = lseek(fd, 0, SEEK_END);
    int error = WriteAll(fd, text.bytes, text.length);
    struct stat st {};
    // Only our own stump is cut: a log that grew past it holds another process's report too.
    if (error && before >= 0 && fstat(fd, &st) == 0 &&
        st.st_size <= before + static_cast<off_t>(text.length)) {
        [[maybe_unused]] const int cut = ftruncate(fd, before); // nothing more to try if not
    }
    if (close(fd) != 0 && !error && errno != EINTR) error = errno;
    return error;
}

const char* Describe(int signo, int code) {
    switch (signo) {
    case SIGSEGV:
        return "Access violation";
    case SIGBUS:
        return "Bus error (misaligned or missing memory)";
    case SIGILL:
        return "Illegal instruction";
    case SIGABRT:
        return "Abnormal termination (abort)";
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

// The function that the compiler inlined at addr (the symbol table knows only the one it was
// inlined into); null when the code there was not inlined or the debug information does not
// say.
const char* InnermostFunction(Dwfl_Module* module, uintptr_t addr) {
    Dwarf_Addr bias = 0;
    Dwarf_Die* unit = dwfl_module_addrdie(module, addr, &bias);
    if (!unit) return nullptr;
    Dwarf_Die* scopes = nullptr;
    const int count = dwarf_getscopes(unit, addr - bias, &scopes);
    const char* name = nullptr;
    for (int i = 0; i < count; ++i) {
        const int tag = dwarf_tag(&scopes[i]);
        if (tag == DW_TAG_subprogram) break; // not inlined: the symbol names it in full
        if (tag != DW_TAG_inlined_subroutine) continue;
        Dwarf_Attribute attribute;
        name = dwarf_formstring(dwarf_attr_integrate(&scopes[i], DW_AT_linkage_name, &attribute));
        if (!name) name = dwarf_diename(&scopes[i]);
        break;
    }
    std::free(scopes);
    return name;
}

// Runs in a child forked from the handler, so that whatever the symbol lookup needs (memory,
// files, the unwinder) cannot deadlock or corrupt the dying process: the child works on a
// copy. Writes "function\nfile\nline\n" of the faulting statement to out.
//
// The statement is the innermost frame, from the faulting instruction outwards, that has line
// information: a fault inside a library without it (memcpy given a bad pointer) names the
// caller's line. An abort starts past the C library's own frames (raise, abort, assert).
void SymboliseInChild(int signo, uintptr_t pc, int out) {
    // A fault during the lookup ends the child the default way, not in this handler again.
    for (int s : kSignals) signal(s, SIG_DFL);
    // Debug information is looked up on this machine only, never fetched over the network.
    unsetenv("DEBUGINFOD_URLS");

    // The child's stack is the parent's: the signal frame, then the frames that faulted.
    void* frames[64];
    const int count = backtrace(frames, 64);
    uintptr_t addresses[64];
    int n = 0, first = -1;
    for (int i = 0; i < count; ++i)
        if (reinterpret_cast<uintptr_t>(frames[i]) == pc) first = i;
    if (first < 0) {
        addresses[n++] = pc;
    } else {
        // Outer frames hold return addresses: one byte back lies inside the call.
        for (int i = first; i < count; ++i)
            addresses[n++] = reinterpret_cast<uintptr_t>(frames[i]) - (i == first ? 0 : 1);
    }

    char* debuginfoPath = nullptr;
    const Dwfl_Callbacks callbacks = {dwfl_linux_proc_find_elf, dwfl_standard_find_debuginfo,
                                      nullptr, &debuginfoPath};
    Dwfl* dwfl = dwfl_begin(&callbacks);
    if (!dwfl) return;
    dwfl_report_begin(dwfl);
    const bool reported = dwfl_linux_proc_report(dwfl, getpid()) == 0;
    dwfl_report_end(dwfl, nullptr, nullptr);
    if (!reported) {
        dwfl_end(dwfl);
        return;
    }

    Dwfl_Module* faultModule = dwfl_addrmodule(dwfl, pc);
    int start = 0;
    Dwfl_Module* cLibrary = dwfl_addrmodule(dwfl, reinterpret_cast<uintptr_t>(&abort));
    if (signo == SIGABRT && cLibrary) {
        while (start < n && dwfl_addrmodule(dwfl, addresses[start]) == cLibrary) ++start;
        if (start == n) start = 0;
    }
    const char* function = nullptr;
    const char* file = nullptr;
    const char* folder = nullptr; // the compiler's working folder, for a relative file name
    int line = 0;
    for (int i = start; i < n && !file; ++i) {
        Dwfl_Module* module = dwfl_addrmodule(dwfl, addresses[i]);
        Dwfl_Line* where = module ? dwfl_module_getsrc(module, addresses[i]) : nullptr;
        if (!where) continue;
        Dwarf_Addr at = 0;
        const char* source = dwfl_lineinfo(where, &at, &line, nullptr, nullptr, nullptr);
        if (source && *source) {
            file = source;
            function = InnermostFunction(module, addresses[i]);
            if (!function) function = dwfl_module_addrname(module, addresses[i]);
            Dwarf_Attribute attribute;
            if (Dwarf_Die* unit = dwfl_linecu(where); unit && *file != '/')
                folder = dwarf_formstring(dwarf_attr(unit, DW_AT_comp_dir, &attribute));
        }
    }
    if (!file && faultModule) function = dwfl_module_addrname(faultModule, pc);

    Text text;
    if (function) {
        int status = -1;
        char* readable = abi::__cxa_demangle(function, nullptr, nullptr, &status);
        text.Add(status == 0 && readable ? readable : function);
        std::free(readable);
    }
    text.Add("\n");
    if (file) {
        // The child may allocate: "../src/x.cpp" becomes a whole path without the "..".
        std::filesystem::path path(file);
        if (folder && *folder) path = std::filesystem::path(folder) / path;
        text.Add(path.lexically_normal().c_str());
    }
    text.Add("\n");
    if (file && line > 0) text.Add(std::to_string(line).c_str());
    text.Add("\n");
    WriteAll(out, text.bytes, text.length);
    dwfl_end(dwfl);
}

struct Location {
    char buffer[1024];
    const char* function = "";
    const char* file = "";
    const char* line = "";
};

int64_t NowMilliseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Asks a child for the source location and waits for it, for a bounded time: a child stuck on
// a lock that the faulting thread held is killed and the log goes without the location.
void Locate(int signo, uintptr_t pc, Location* where) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    const pid_t child = _Fork();
    if (child == 0) {
        close(fds[0]);
        SymboliseInChild(signo, pc, fds[1]);
        _exit(0);
    }
    close(fds[1]);
    size_t length = 0;
    if (child > 0) {
        const int64_t deadline = NowMilliseconds() + kSymboliseMilliseconds;
        while (length < sizeof where->buffer - 1) {
            const int64_t left = deadline - NowMilliseconds();
            if (left <= 0) break;
            pollfd p{fds[0], POLLIN, 0};
            const int ready = poll(&p, 1, static_cast<int>(left));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) break;
            const ssize_t got =
                read(fds[0], where->buffer + length, sizeof where->buffer - 1 - length);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            length += static_cast<size_t>(got);
        }
        kill(child, SIGKILL);
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    close(fds[0]);
    where->buffer[length] = 0;
    // Only a complete answer of three lines is used.
    char* fields[3];
    char* p = where->buffer;
    for (char*& field : fields) {
        char* end = std::strchr(p, '\n');
        if (!end) return;
        *end = 0;
        field = p;
        p = end + 1;
    }
    where->function = fields[0];
    where->file = fields[1];
    where->line = fields[2];
}

void OnFault(int signo, siginfo_t* info, void* context) {
    // A second thread that faults meanwhile waits for the first to end the process.
    if (handling.exchange(1) != 0)
        for (;;) pause();

    const uintptr_t pc = FaultingInstruction(context);
    Location where;
    Locate(signo, pc, &where);

    Text text;
    text.Add("Error: ");
    text.Add(Describe(signo, info ? info->si_code : 0));
    if (*where.function) {
        text.Add(" in ");
        text.Add(where.function);
    }
    text.Add("\r\n\r\nAddress: $");
    text.AddHex(pc);
    text.Add("\r\nFile: ");
    text.Add(where.file);
    text.Add("\r\nLine: ");
    text.Add(where.line);
    text.Add("\r\nTargetAddress: $");
    // Only a fault has a target; an abort or a signal sent by a process has none.
    if (info && info->si_code > 0 && signo != SIGABRT)
        text.AddHex(reinterpret_cast<uintptr_t>(info->si_addr));
    text.Add("\r\n");

    // Past a file-size limit a write would raise SIGXFSZ and end the process with no report;
    // ignored, the write fails with EFBIG and is told like a full disk.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, nullptr);
    const int error = AppendToLog(text);
    // Shown, not logged: where the text is kept, or why it is not.
    if (error == 0) {
        text.Add("\r\nError message has been saved to \"");
        text.Add(logPath);
        text.Add("\"\r\n");
    } else {
        text.Add("\r\nCould not save the error message to ");
        text.Add(logPath);
        text.Add(": ");
        // strerrordesc_np reads a constant table: no locale, no allocation in a dying process.
        const char* why = strerrordesc_np(error);
        text.Add(why ? why : "unknown error");
        text.Add("\r\n");
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
    // The first backtrace loads the unwinder library; do it now rather than after a fault.
    void* warmUp[1];
    backtrace(warmUp, 1);

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
    for (int signo : kSignals) ok = sigaction(signo, &action, nullptr) == 0 && ok;
    // A save past a file-size limit must fail with EFBIG and be told like a full disk, not end
    // the program (and the game) without a word.
    std::signal(SIGXFSZ, SIG_IGN);
    return ok;
}
