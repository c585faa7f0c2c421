// The simulated machine's own side of processes and named objects: what belongs to the
// simulation root, what a simulated process sees of the host, and the control of module paths.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/WinHandles.h"
#include "platform/win.h"
#include "sim/machine.h"
#include "sim/registry_control.h"

namespace {

using tarn::UniqueHandle;

size_t objectFiles() {
    const std::filesystem::path folder = sim::root() + "/objects";
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        count += entry.path().filename().string().starts_with("mutex-") ? 1 : 0;
    }
    return count;
}

std::wstring variable(const wchar_t* name) {
    wchar_t value[1024];
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length == 0 ? L"<missing>" : std::wstring(value, length);
}

TEST(SimObjects, ANamedMutexIsAFileOfTheRootWhileItIsOpen) {
    const size_t before = [] {
        std::filesystem::create_directories(sim::root() + "/objects");
        return objectFiles();
    }();
    const std::wstring name = L"Global\\TarnSimObjects_" + std::to_wstring(getpid());
    UniqueHandle mutex(CreateMutexW(nullptr, FALSE, name.c_str()));
    ASSERT_TRUE(mutex);
    EXPECT_EQ(objectFiles(), before + 1);
    UniqueHandle second(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
    mutex.reset();
    EXPECT_EQ(objectFiles(), before + 1) << "a handle is still open";
    second.reset();
    EXPECT_EQ(objectFiles(), before) << "the last close removes the object";
}

TEST(SimEnvironment, OnlyTheHostsTarnSettingsShowThrough) {
    ASSERT_EQ(setenv("TARN_SIM_TEST_SETTING", "hidden", 1), 0);
    ASSERT_EQ(setenv("TARN_TEST_SETTING", "visible", 1), 0);
    ASSERT_EQ(setenv("TarnHostOnly", "host", 1), 0);
    sim::reset();  // the environment is read from the host at the start
    EXPECT_EQ(variable(L"TARN_TEST_SETTING"), L"visible");
    EXPECT_EQ(variable(L"TARN_SIM_TEST_SETTING"), L"<missing>");
    EXPECT_EQ(variable(L"TarnHostOnly"), L"<missing>");
    EXPECT_EQ(variable(L"HOME"), L"<missing>");
    EXPECT_EQ(variable(L"PATH").substr(0, 3), L"C:\\") << "Windows' path, not the host's";
    unsetenv("TARN_SIM_TEST_SETTING");
    unsetenv("TARN_TEST_SETTING");
    unsetenv("TarnHostOnly");
}

TEST(SimEnvironment, FollowsTheProcessBitness) {
    // By default a 32-bit process on 64-bit Windows, as the product runs.
    EXPECT_EQ(variable(L"ProgramFiles"), L"C:\\Program Files (x86)");
    EXPECT_EQ(variable(L"ProgramW6432"), L"C:\\Program Files");
    EXPECT_EQ(variable(L"PROCESSOR_ARCHITECTURE"), L"x86");
    EXPECT_EQ(variable(L"PROCESSOR_ARCHITEW6432"), L"AMD64");
    sim::registry::setWow64Process(false);
    EXPECT_EQ(variable(L"ProgramFiles"), L"C:\\Program Files");
    EXPECT_EQ(variable(L"CommonProgramFiles"), L"C:\\Program Files\\Common Files");
    EXPECT_EQ(variable(L"PROCESSOR_ARCHITECTURE"), L"AMD64");
    EXPECT_EQ(variable(L"PROCESSOR_ARCHITEW6432"), L"<missing>");
}

TEST(SimProcesses, AConstantCommandLineFailsAsOnWindows) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // A page that cannot be written, holding a valid command line.
    const long page = sysconf(_SC_PAGESIZE);
    void* memory = mmap(nullptr, static_cast<size_t>(page), PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    auto* line = static_cast<wchar_t*>(memory);
    std::wcscpy(line, L"\"C:\\Windows\\system32\\cmd.exe\" /c exit");
    ASSERT_EQ(mprotect(memory, static_cast<size_t>(page), PROT_READ), 0);
    EXPECT_DEATH(
        {
            STARTUPINFOW startup{};
            startup.cb = sizeof startup;
            PROCESS_INFORMATION info{};
            CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           &info);
        },
        "");
    munmap(memory, static_cast<size_t>(page));
}

TEST(SimModules, ASharedLibraryIsAModuleWithItsHostPath) {
    HMODULE machine = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&CreateEventW), &machine));
    EXPECT_NE(machine, GetModuleHandleW(nullptr));
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(machine, path, MAX_PATH), 0u);
    EXPECT_TRUE(std::wstring(path).ends_with(L"/libtarn_winsim.so")) << path;

    // Tests give a module the path it has on the product's machine.
    sim::setModuleFileName(machine, L"C:\\Program Files (x86)\\Tarn\\plugins\\fw.dll");
    ASSERT_GT(GetModuleFileNameW(machine, path, MAX_PATH), 0u);
    EXPECT_EQ(std::wstring(path), L"C:\\Program Files (x86)\\Tarn\\plugins\\fw.dll");
    wchar_t program[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, program, MAX_PATH), 0u);
    EXPECT_NE(std::wstring(program), std::wstring(path));
}

}  // namespace
