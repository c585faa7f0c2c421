// The environment of a simulated process.
//
// A process sees the variables that a Windows process of the system account has, plus the
// host's variables named TARN_* (how tests and the demo hand settings such as the store's
// folder to the programs they start from a shell); nothing else of the host's environment.
// Host variables named TARN_SIM_* are the machine's own (its root, its switches) and never part
// of the Windows environment. A process started by the simulated CreateProcessW sees exactly
// the environment it was given, carried in one such variable.
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "internal.h"

using sim::detail::fail;

namespace {

constexpr std::string_view kMachinePrefix = "TARN_SIM_";
constexpr std::string_view kSettingsPrefix = "TARN_";
constexpr const char* kGiven = "TARN_SIM_ENVIRONMENT";

// The Windows environment of a process that was not started by the machine.
constexpr std::pair<const wchar_t*, const wchar_t*> kWindowsDefaults[] = {
    {L"ALLUSERSPROFILE", L"C:\\ProgramData"},
    {L"APPDATA", L"C:\\Windows\\system32\\config\\systemprofile\\AppData\\Roaming"},
    {L"CommonProgramFiles(x86)", L"C:\\Program Files (x86)\\Common Files"},
    {L"CommonProgramW6432", L"C:\\Program Files\\Common Files"},
    {L"COMPUTERNAME", L"TARNTEST-PC"},
    {L"ComSpec", L"C:\\Windows\\system32\\cmd.exe"},
    {L"LOCALAPPDATA", L"C:\\Windows\\system32\\config\\systemprofile\\AppData\\Local"},
    {L"NUMBER_OF_PROCESSORS", L"2"},
    {L"OS", L"Windows_NT"},
    {L"Path", L"C:\\Windows\\system32;C:\\Windows;C:\\Windows\\System32\\Wbem"},
    {L"PATHEXT", L".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC"},
    {L"ProgramData", L"C:\\ProgramData"},
    {L"ProgramFiles(x86)", L"C:\\Program Files (x86)"},
    {L"ProgramW6432", L"C:\\Program Files"},
    {L"PUBLIC", L"C:\\Users\\Public"},
    {L"SystemDrive", L"C:"},
    {L"SystemRoot", L"C:\\Windows"},
    {L"TEMP", L"C:\\Windows\\TEMP"},
    {L"TMP", L"C:\\Windows\\TEMP"},
    {L"USERDOMAIN", L"WORKGROUP"},
    {L"USERNAME", L"SYSTEM"},
    {L"USERPROFILE", L"C:\\Windows\\system32\\config\\systemprofile"},
    {L"windir", L"C:\\Windows"},
};

// The variables that tell a 32-bit process on 64-bit Windows (WOW64) from a native one.
std::vector<std::pair<std::wstring, std::wstring>> bitnessVariables(bool wow64) {
    if (wow64) {
        return {{L"CommonProgramFiles", L"C:\\Program Files (x86)\\Common Files"},
                {L"ProgramFiles", L"C:\\Program Files (x86)"},
                {L"PROCESSOR_ARCHITECTURE", L"x86"},
                {L"PROCESSOR_ARCHITEW6432", L"AMD64"}};
    }
    return {{L"CommonProgramFiles", L"C:\\Program Files\\Common Files"},
            {L"ProgramFiles", L"C:\\Program Files"},
            {L"PROCESSOR_ARCHITECTURE", L"AMD64"}};
}

// "name=value" texts joined by new lines, with backslash escapes for both.
std::string encode(const std::vector<std::wstring>& entries) {
    std::string out;
    for (const auto& entry : entries) {
        for (const char c : sim::detail::toUtf8(entry)) {
            out += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : std::string(1, c);
        }
        out += '\n';
    }
    return out;
}

std::vector<std::wstring> decode(std::string_view text) {
    std::vector<std::wstring> entries;
    std::string entry;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            entries.push_back(sim::detail::fromUtf8(entry).value_or(L""));
            entry.clear();
        } else if (text[i] == '\\' && i + 1 < text.size()) {
            entry += text[++i] == 'n' ? '\n' : text[i];
        } else {
            entry += text[i];
        }
    }
    return entries;
}

struct FoldLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return sim::detail::upcase(a) < sim::detail::upcase(b);
    }
};

// Names compare without regard to case and keep the case they were set in, as on Windows.
struct Environment {
    std::mutex mutex;
    std::map<std::wstring, std::wstring, FoldLess> variables;

    void add(std::wstring_view entry) {
        // A leading '=' belongs to the name (Windows keeps "=C:" style entries).
        const size_t equals = entry.find(L'=', 1);
        if (equals != std::wstring_view::npos) {
            const std::wstring name(entry.substr(0, equals));
            variables.insert_or_assign(name, std::wstring(entry.substr(equals + 1)));
        }
    }

    void initialise() {
        variables.clear();
        if (const char* given = std::getenv(kGiven)) {
            for (const auto& entry : decode(given)) {
                add(entry);
            }
            return;
        }
        // The machine's default process is a 32-bit one (sim/registry_control.h).
        for (auto& [name, value] : sim::detail::systemAccountEnvironment(true)) {
            variables.emplace(std::move(name), std::move(value));
        }
        for (char** entry = ::environ; *entry != nullptr; ++entry) {
            const std::string_view text(*entry);
            if (text.starts_with(kSettingsPrefix) && !text.starts_with(kMachinePrefix)) {
                add(sim::detail::fromUtf8(text).value_or(L""));
            }
        }
    }

    void setBitness(bool wow64) {
        variables.erase(L"PROCESSOR_ARCHITEW6432");
        for (auto& [name, value] : bitnessVariables(wow64)) {
            variables.insert_or_assign(name, value);
        }
    }

    std::optional<std::wstring> get(const std::wstring& name) {
        std::lock_guard lock(mutex);
        auto it = variables.find(name);
        return it == variables.end() ? std::nullopt : std::optional<std::wstring>(it->second);
    }

    void set(const std::wstring& name, const wchar_t* value) {
        std::lock_guard lock(mutex);
        if (value == nullptr) {
            variables.erase(name);
            return;
        }
        // A name set again in another case keeps its first spelling.
        if (auto it = variables.find(name); it != variables.end()) {
            it->second = value;
        } else {
            variables.emplace(name, value);
        }
    }

    std::vector<std::wstring> entries() {
        std::lock_guard lock(mutex);
        std::vector<std::wstring> out;
        for (const auto& [name, value] : variables) {
            out.push_back(name + L"=" + value);
        }
        return out;
    }
};

Environment& environment() {
    static auto* env = [] {
        auto* e = new Environment;
        e->initialise();
        sim::onReset([e] {
            std::lock_guard lock(e->mutex);
            e->initialise();
        });
        return e;
    }();
    return *env;
}

}  // namespace

std::vector<std::pair<std::wstring, std::wstring>> sim::detail::systemAccountEnvironment(
    bool wow64) {
    std::vector<std::pair<std::wstring, std::wstring>> variables(std::begin(kWindowsDefaults),
                                                                 std::end(kWindowsDefaults));
    for (auto& variable : bitnessVariables(wow64)) {
        variables.push_back(std::move(variable));
    }
    return variables;
}

void sim::detail::setProcessBitness(bool wow64) {
    auto& env = environment();
    std::lock_guard lock(env.mutex);
    env.setBitness(wow64);
}

std::vector<std::string> sim::detail::hostEnvironmentForChild(
    const std::optional<std::vector<std::wstring>>& windowsEnvironment) {
    // The host's variables go on for the host's sake (its runtime, the machine's root); the
    // Windows environment the child is to see travels in one variable of the machine's.
    std::vector<std::string> out;
    const std::string given = std::string(kGiven) + "=";
    for (char** entry = ::environ; *entry != nullptr; ++entry) {
        if (!std::string_view(*entry).starts_with(given)) {
            out.emplace_back(*entry);
        }
    }
    out.push_back(given + encode(windowsEnvironment.value_or(environment().entries())));
    return out;
}

DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
    SIM_API("GetEnvironmentVariableW");
    if (simFault_) {
        return fail(*simFault_, static_cast<DWORD>(0));
    }
    const auto value = name == nullptr ? std::nullopt : environment().get(name);
    if (!value) {
        return fail(ERROR_ENVVAR_NOT_FOUND, static_cast<DWORD>(0));
    }
    if (value->size() + 1 > size || buffer == nullptr) {
        return static_cast<DWORD>(value->size() + 1);
    }
    std::wmemcpy(buffer, value->c_str(), value->size() + 1);
    return static_cast<DWORD>(value->size());
}

BOOL SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value) {
    SIM_API("SetEnvironmentVariableW");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    if (name == nullptr || *name == L'\0' || std::wcschr(name, L'=') != nullptr) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    environment().set(name, value);
    return TRUE;
}

DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size) {
    SIM_API("ExpandEnvironmentStringsW");
    if (simFault_) {
        return fail(*simFault_, static_cast<DWORD>(0));
    }
    // %NAME% is replaced by the variable's value; an unknown name is kept with its leading '%'
    // and the scan goes on at its closing '%', as Windows does.
    std::wstring out;
    const std::wstring text = source;
    size_t i = 0;
    while (i < text.size()) {
        const size_t open = text.find(L'%', i);
        if (open == std::wstring::npos) {
            out += text.substr(i);
            break;
        }
        out += text.substr(i, open - i);
        const size_t close = text.find(L'%', open + 1);
        if (close == std::wstring::npos) {
            out += text.substr(open);
            break;
        }
        const std::wstring name = text.substr(open + 1, close - open - 1);
        const auto value = name.empty() ? std::nullopt : environment().get(name);
        if (value) {
            out += *value;
            i = close + 1;
        } else {
            out += text.substr(open, close - open);
            i = close;
        }
    }
    const auto needed = static_cast<DWORD>(out.size() + 1);
    if (destination != nullptr && size >= needed) {
        std::wmemcpy(destination, out.c_str(), needed);
    }
    return needed;
}
