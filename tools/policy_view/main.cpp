#include <iostream>

#include "common/CommandLine.h"
#include "tools/policy_view/PolicyView.h"

int main() {
    const auto args = tarn::commandLineArguments();
    if (!args) {
        std::cerr << "tarn_policy_view: cannot read the command line\n";
        return 1;
    }
    return tarn::policy_view::run(*args, std::cout, std::cerr);
}
