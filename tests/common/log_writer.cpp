// Helper of the cross-process logging test: writes numbered lines into the shared log of the
// simulated machine. Arguments: the log root (a Windows path), the writer's number, the count.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/Str.h"
#include "common/logging/LoggerWin.h"
#include "sim/registry_control.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <root> <writer> <lines>\n", argv[0]);
        return 2;
    }
    const wchar_t* logging = L"HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\PYX\\Logging";
    sim::registry::setString(logging, L"RootPath", tarn::str::fromUtf8(argv[1]));
    sim::registry::setDword(logging, L"LogMaxSizeKB", 1u << 20);  // no rotation
    const int writer = std::atoi(argv[2]);
    const int lines = std::atoi(argv[3]);
    const std::string filler(80, '=');
    TarnPyxLogging::LoggerWin log;
    log.open(nullptr, L"Firewall", L"Shared", TarnPyxLogging::LevelInfo, 0);
    for (int i = 0; i < lines; ++i) {
        log.logf(TarnPyxLogging::LevelInfo, "Writer::run", "writer %d line %05d %hs", writer, i,
                 filler.c_str());
    }
    log.close();
    return 0;
}
