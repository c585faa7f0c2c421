// The host program's run: options, the machine file, the plug-in's life and the console's stop.
#include <iostream>
#include <mutex>
#include <thread>

#include "common/Str.h"
#include "platform/machine_state.h"
#include "platform/win.h"
#include "tools/carrier/Carrier.h"
#include "tools/carrier/CarrierHost.h"

namespace {

// The host that a console event stops, while it has a plug-in.
std::mutex g_hostMutex;
tarn::carrier::CarrierHost* g_host = nullptr;

void setHost(tarn::carrier::CarrierHost* host) {
    const std::lock_guard lock(g_hostMutex);
    g_host = host;
}

BOOL WINAPI onConsoleControl(DWORD type) {
    {
        const std::lock_guard lock(g_hostMutex);
        if (g_host != nullptr) {
            g_host->stop();
        }
    }
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        return TRUE;
    }
    // The process ends when this handler returns: the host's own thread finishes the
    // shut-down and ends it first.
    Sleep(INFINITE);
    return TRUE;
}

struct Options {
    std::wstring nameSpace = L"default";
    std::wstring plugin;
    std::string machine;
    DWORD saveEveryMs = 500;
};

void usage(std::ostream& err) {
    err << "usage: carrier [--namespace NAME] [--plugin PATH] [--machine FILE] "
           "[--save-every MS]\n";
}

bool parse(const std::vector<std::wstring>& args, Options& options) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (i + 1 >= args.size()) {
            return false;
        }
        const std::wstring& value = args[++i];
        if (arg == L"--namespace" || arg == L"-n") {
            options.nameSpace = value;
        } else if (arg == L"--plugin") {
            options.plugin = value;
        } else if (arg == L"--machine") {
            options.machine = tarn::str::toUtf8(value);
        } else if (arg == L"--save-every") {
            options.saveEveryMs = static_cast<DWORD>(std::stoul(value));
        } else {
            return false;
        }
    }
    return true;
}

// The plug-in library next to this program.
std::wstring defaultPlugin() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    folder.erase(folder.find_last_of(L"\\/") + 1);
    return folder + TARN_PLUGIN_FILE_NAME;
}

bool saveMachine(const Options& options, std::ostream& err) {
    std::string error;
    if (!options.machine.empty() && !tarn::platform::saveMachine(options.machine, error)) {
        err << "carrier: " << error << "\n";
        return false;
    }
    return true;
}

bool loadMachine(const Options& options, std::ostream& err) {
    if (options.machine.empty()) {
        return true;
    }
    std::string error;
    if (GetFileAttributesW(tarn::str::fromUtf8(options.machine).c_str()) ==
        INVALID_FILE_ATTRIBUTES) {
        return saveMachine(options, err);  // a fresh machine, kept from now on
    }
    if (!tarn::platform::loadMachine(options.machine, error)) {
        err << "carrier: " << error << "\n";
        return false;
    }
    return true;
}

// Commands for the running machine, one a line; the reader ends with the input. Its replies go
// to the standard error, which outlives the reader.
void readCommands() {
    std::thread([] {
        for (std::string line; std::getline(std::cin, line);) {
            if (!line.empty()) {
                std::cerr << "carrier: " << tarn::platform::machineCommand(line) << std::endl;
            }
        }
    }).detach();
}

}  // namespace

namespace tarn::carrier {

int runCarrier(const std::vector<std::wstring>& args, std::ostream& err) {
    Options options;
    try {
        if (!parse(args, options)) {
            usage(err);
            return 2;
        }
    } catch (const std::exception&) {
        usage(err);
        return 2;
    }
    if (options.plugin.empty()) {
        options.plugin = defaultPlugin();
    }
    if (!options.machine.empty() && !tarn::platform::kSimulatedMachine) {
        err << "carrier: --machine is for the simulated machine\n";
        return 2;
    }
    if (!loadMachine(options, err)) {
        return 2;
    }

    tarn::carrier::CarrierHost host(options.nameSpace);
    std::string error;
    if (!host.load(options.plugin, error)) {
        err << "carrier: " << tarn::str::toUtf8(options.plugin) << ": " << error << "\n";
        return 2;
    }
    setHost(&host);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    uint32_t result = host.initialize();
    if (result == 0) {
        if (!options.machine.empty()) {
            readCommands();
        }
        host.startMain();
        while (!host.waitForMain(options.machine.empty() ? INFINITE : options.saveEveryMs)) {
            saveMachine(options, err);
        }
        result = host.mainResult();
    } else {
        err << "carrier: the plug-in did not initialise (" << result << ")\n";
    }
    setHost(nullptr);
    host.destroy();
    host.keepLibraryLoaded();
    saveMachine(options, err);
    return static_cast<int>(result);
}

}  // namespace tarn::carrier
