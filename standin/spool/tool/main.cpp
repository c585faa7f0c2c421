#include <iostream>

#include "common/CommandLine.h"
#include "standin/spool/tool/SpoolTool.h"

int main() {
    const auto args = tarn::commandLineArguments();
    if (!args) {
        std::cerr << "tarn_spool: cannot read the command line\n";
        return 1;
    }
    return tarn::spool::runTool(*args, std::cout, std::cerr);
}
