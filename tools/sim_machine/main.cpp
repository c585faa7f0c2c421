// tarn_sim_machine: changes a machine file of the simulated machine, as a person would change
// the machine while it is off.
//
//   tarn_sim_machine FILE COMMAND...   (the commands of sim/machine_file.h; one per argument
//                                       group, separated by "--")
//   tarn_sim_machine FILE network public-hotspot -- registry-string HKLM\... Name Value
#include <iostream>
#include <string>
#include <vector>

#include "sim/machine_file.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: tarn_sim_machine FILE COMMAND [ARGUMENT...] [-- COMMAND ...]\n";
        return 2;
    }
    const std::string file = argv[1];
    std::string error;
    if (std::FILE* existing = std::fopen(file.c_str(), "r")) {
        std::fclose(existing);
        if (!sim::machine_file::loadFile(file, &error)) {
            std::cerr << "tarn_sim_machine: " << error << "\n";
            return 1;
        }
    }
    std::vector<std::string> commands(1);
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            commands.emplace_back();
            continue;
        }
        commands.back() += (commands.back().empty() ? "\"" : " \"") + arg + "\"";
    }
    for (const auto& command : commands) {
        const std::string reply = sim::machine_file::command(command);
        std::cout << reply << "\n";
        if (reply.rfind("error:", 0) == 0) {
            return 1;
        }
    }
    if (!sim::machine_file::saveFile(file, &error)) {
        std::cerr << "tarn_sim_machine: " << error << "\n";
        return 1;
    }
    return 0;
}
