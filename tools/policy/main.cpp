// tarn_policy: what a policy does to an endpoint (see PolicyTool.h).
#include <iostream>

#include "common/CommandLine.h"
#include "tools/policy/PolicyTool.h"

int main() {
    const auto args = tarn::commandLineArguments();
    if (!args) {
        std::cerr << "tarn_policy: cannot read the command line\n";
        return 2;
    }
    const tarn::policy::PrivateMachineRoot root;
    return tarn::policy::run(*args, std::cout, std::cerr);
}
