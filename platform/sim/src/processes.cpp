// Processes of the simulated machine: real host processes behind process handles.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "internal.h"
#include "sim/win/processes.h"
#include "sim/win/sync.h"

using sim::detail::fail;
using sim::detail::KernelObject;

namespace {

class ProcessObject final : public KernelObject {
public:
    explicit ProcessObject(pid_t pid) : m_pid(pid) {}
    ~ProcessObject() override { reap(false); }
    bool waitable() const override { return true; }
    bool crossProcess() const override { return true; }
    std::optional<DWORD> waitAlone(DWORD milliseconds) override {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        for (;;) {
            if (reap(false)) {
                return WAIT_OBJECT_0;
            }
            if (milliseconds != INFINITE && std::chrono::steady_clock::now() >= deadline) {
                return WAIT_TIMEOUT;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    // Whether the process has ended; collects its status once.
    bool reap(bool block) {
        std::lock_guard lock(m_mutex);
        if (m_exited) {
            return true;
        }
        int status = 0;
        const pid_t done = waitpid(m_pid, &status, block ? 0 : WNOHANG);
        if (done != m_pid) {
            return false;
        }
        m_exited = true;
        if (!m_terminated) {
            m_exitCode = WIFEXITED(status) ? static_cast<DWORD>(WEXITSTATUS(status))
                                           : static_cast<DWORD>(128 + WTERMSIG(status));
        }
        return true;
    }
    DWORD exitCode() {
        reap(false);
        std::lock_guard lock(m_mutex);
        return m_exited ? m_exitCode : static_cast<DWORD>(STILL_ACTIVE);
    }
    bool terminate(DWORD code) {
        {
            std::lock_guard lock(m_mutex);
            if (m_exited) {
                return false;
            }
            m_terminated = true;
            m_exitCode = code;
        }
        kill(m_pid, SIGKILL);
        return true;
    }
    pid_t pid() const { return m_pid; }

private:
    std::mutex m_mutex;
    pid_t m_pid;
    bool m_exited = false;
    bool m_terminated = false;
    DWORD m_exitCode = 0;
};

class ThreadObject final : public KernelObject {};

// The Windows rules: 2n backslashes before a quote give n and the quote toggles quoting;
// 2n+1 give n and a literal quote; other backslashes are literal; inside quotes "" is a
// literal quote. The program name ends at the next quote or blank, without escapes.
std::vector<std::wstring> splitCommandLine(std::wstring_view line) {
    std::vector<std::wstring> args;
    size_t i = 0;
    std::wstring program;
    if (i < line.size() && line[i] == L'"') {
        ++i;
        while (i < line.size() && line[i] != L'"') {
            program += line[i++];
        }
        if (i < line.size()) {
            ++i;
        }
    } else {
        while (i < line.size() && line[i] != L' ' && line[i] != L'\t') {
            program += line[i++];
        }
    }
    args.push_back(program);
    for (;;) {
        while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) {
            ++i;
        }
        if (i >= line.size()) {
            return args;
        }
        std::wstring arg;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != L' ' && line[i] != L'\t'))) {
            size_t slashes = 0;
            while (i < line.size() && line[i] == L'\\') {
                ++slashes;
                ++i;
            }
            if (i < line.size() && line[i] == L'"') {
                arg.append(slashes / 2, L'\\');
                if (slashes % 2 == 1) {
                    arg += L'"';
                } else if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
                    arg += L'"';
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                arg.append(slashes, L'\\');
                if (i < line.size() && (quoted || (line[i] != L' ' && line[i] != L'\t'))) {
                    arg += line[i++];
                }
            }
        }
        args.push_back(arg);
    }
}

std::wstring quoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
        return arg;
    }
    std::wstring out = L"\"";
    size_t slashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, L'\\');
    return out + L"\"";
}

bool isFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string programPath(const std::wstring& name) {
    std::string path = sim::hostPath(name);
    if (isFile(path)) {
        return path;
    }
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".exe") == 0 &&
        isFile(path.substr(0, path.size() - 4))) {
        return path.substr(0, path.size() - 4);
    }
    if (isFile(path + ".exe")) {
        return path + ".exe";
    }
    return {};
}

// The "name=value" entries of an environment block: UTF-16 strings with
// CREATE_UNICODE_ENVIRONMENT, else strings of the ANSI code page.
std::vector<std::wstring> environmentFromBlock(const void* block, bool unicode) {
    std::vector<std::wstring> out;
    if (unicode) {
        for (auto* entry = static_cast<const wchar_t*>(block); *entry != L'\0';) {
            const std::wstring_view text(entry);
            out.emplace_back(text);
            entry += text.size() + 1;
        }
        return out;
    }
    for (auto* entry = static_cast<const char*>(block); *entry != '\0';) {
        const std::string_view text(entry);
        out.push_back(sim::detail::fromUtf8(text).value_or(L""));
        entry += text.size() + 1;
    }
    return out;
}

// The program named at the start of a command line. Windows writes into the line while it
// looks for the program (it ends each candidate name in place), which is why the line must be
// writable; the simulation writes there too, so that a constant line fails here as well.
std::wstring programOf(LPWSTR commandLine) {
    const bool quoted = commandLine[0] == L'"';
    size_t end = quoted ? 1 : 0;
    while (commandLine[end] != L'\0' &&
           (quoted ? commandLine[end] != L'"'
                   : commandLine[end] != L' ' && commandLine[end] != L'\t')) {
        ++end;
    }
    const wchar_t kept = commandLine[end];
    commandLine[end] = L'\0';
    std::wstring program(commandLine + (quoted ? 1 : 0));
    commandLine[end] = kept;
    return program;
}

}  // namespace

BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES,
                    LPSECURITY_ATTRIBUTES, BOOL, DWORD creationFlags, LPVOID environment,
                    LPCWSTR currentDirectory, LPSTARTUPINFOW,
                    LPPROCESS_INFORMATION processInformation) {
    SIM_API("CreateProcessW");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    if ((applicationName == nullptr && commandLine == nullptr) || processInformation == nullptr) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    const std::vector<std::wstring> args =
        splitCommandLine(commandLine != nullptr ? commandLine : applicationName);
    const std::wstring named = commandLine != nullptr ? programOf(commandLine) : std::wstring();
    const std::string program =
        programPath(applicationName != nullptr ? std::wstring(applicationName) : named);
    if (program.empty()) {
        return fail(ERROR_FILE_NOT_FOUND, FALSE);
    }
    std::vector<std::string> argStrings;
    for (const auto& arg : args) {
        argStrings.push_back(sim::detail::toUtf8(arg));
    }
    std::vector<std::string> envStrings = sim::detail::hostEnvironmentForChild(
        environment == nullptr
            ? std::nullopt
            : std::optional(environmentFromBlock(
                  environment, (creationFlags & CREATE_UNICODE_ENVIRONMENT) != 0)));
    std::vector<char*> argv;
    for (auto& arg : argStrings) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : envStrings) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string directory =
        currentDirectory != nullptr ? sim::hostPath(currentDirectory) : std::string();
    if (!directory.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    }
    pid_t pid = 0;
    const int error =
        posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        return fail(error == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED, FALSE);
    }
    processInformation->hProcess = sim::detail::insertHandle(std::make_shared<ProcessObject>(pid));
    processInformation->hThread = sim::detail::insertHandle(std::make_shared<ThreadObject>());
    processInformation->dwProcessId = static_cast<DWORD>(pid);
    processInformation->dwThreadId = static_cast<DWORD>(pid);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
    SIM_API("GetExitCodeProcess");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    auto object = sim::detail::lookupAs<ProcessObject>(process);
    if (!object || exitCode == nullptr) {
        return fail(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE, FALSE);
    }
    *exitCode = object->exitCode();
    return TRUE;
}

BOOL TerminateProcess(HANDLE process, UINT exitCode) {
    SIM_API("TerminateProcess");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    auto object = sim::detail::lookupAs<ProcessObject>(process);
    if (!object) {
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    // As on Windows, terminating a process that has already ended is refused.
    return object->terminate(exitCode) ? TRUE : fail(ERROR_ACCESS_DENIED, FALSE);
}

LPWSTR GetCommandLineW() {
    static std::wstring line = [] {
        std::ifstream file("/proc/self/cmdline", std::ios::binary);
        const std::string raw((std::istreambuf_iterator<char>(file)),
                              std::istreambuf_iterator<char>());
        std::wstring out;
        size_t start = 0;
        while (start < raw.size()) {
            const size_t end = raw.find('\0', start);
            const std::string arg = raw.substr(start, end - start);
            const std::wstring wide = sim::detail::fromUtf8(arg).value_or(L"");
            if (!out.empty()) {
                out += L' ';
            }
            // The program name cannot carry escapes: it is only ever quoted.
            out += start == 0 ? L"\"" + wide + L"\"" : quoteArgument(wide);
            if (end == std::string::npos) {
                break;
            }
            start = end + 1;
        }
        return out;
    }();
    return line.data();
}

LPWSTR* CommandLineToArgvW(LPCWSTR commandLine, int* count) {
    SIM_API("CommandLineToArgvW");
    if (simFault_) {
        return fail(*simFault_, static_cast<LPWSTR*>(nullptr));
    }
    if (count == nullptr) {
        return fail(ERROR_INVALID_PARAMETER, static_cast<LPWSTR*>(nullptr));
    }
    const std::vector<std::wstring> args = commandLine == nullptr || *commandLine == L'\0'
                                               ? std::vector<std::wstring>{[] {
                                                     wchar_t path[MAX_PATH] = {};
                                                     GetModuleFileNameW(nullptr, path, MAX_PATH);
                                                     return std::wstring(path);
                                                 }()}
                                               : splitCommandLine(commandLine);
    size_t bytes = (args.size() + 1) * sizeof(LPWSTR);
    for (const auto& arg : args) {
        bytes += (arg.size() + 1) * sizeof(wchar_t);
    }
    auto* block = static_cast<LPWSTR*>(LocalAlloc(LMEM_FIXED, bytes));
    if (block == nullptr) {
        return nullptr;
    }
    auto* text = reinterpret_cast<wchar_t*>(block + args.size() + 1);
    for (size_t i = 0; i < args.size(); ++i) {
        block[i] = text;
        std::wmemcpy(text, args[i].c_str(), args[i].size() + 1);
        text += args[i].size() + 1;
    }
    block[args.size()] = nullptr;
    *count = static_cast<int>(args.size());
    return block;
}
