// carrier: runs the firewall plug-in as the Carrier service host does, in a console.
//
//   carrier [--namespace NAME] [--plugin PATH] [--machine FILE] [--save-every MS]
//
// Ctrl-C (or the end of the console) stops the plug-in; the exit code is its main entry's
// result. On the simulated machine, --machine loads the machine's state from FILE (when it
// exists), keeps FILE up to date while the plug-in runs and at the end, and lines on the
// standard input change the running machine ("network public-hotspot").
#include <iostream>

#include "common/CommandLine.h"
#include "tools/carrier/Carrier.h"

int main() {
    const auto args = tarn::commandLineArguments();
    if (!args) {
        return 2;
    }
    return tarn::carrier::runCarrier(*args, std::cerr);
}
