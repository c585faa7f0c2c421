#include <iostream>

#include "common/CommandLine.h"
#include "standin/orrery/tool/OrreryTool.h"

int main() {
    const auto args = tarn::commandLineArguments();
    if (!args) {
        std::cerr << "orrery: cannot read the command line\n";
        return 1;
    }
    return tarn::orrery::runTool(*args, std::cout, std::cerr);
}
