// tarn_firewall_view: the Windows Firewall of a machine file, or the differences of two.
#include <iostream>

#include "common/CommandLine.h"
#include "common/Str.h"
#include "tools/firewall_view/FirewallView.h"

int main() {
    const auto wide = tarn::commandLineArguments();
    if (!wide) {
        return 2;
    }
    std::vector<std::string> args;
    for (const auto& arg : *wide) {
        args.push_back(tarn::str::toUtf8(arg));
    }
    return tarn::view::runTool(args, std::cout, std::cerr);
}
