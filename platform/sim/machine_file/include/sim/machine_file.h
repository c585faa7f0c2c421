// The simulated machine's state as a JSON file, so that a run can be inspected, repeated and
// continued: one member per section (the firewall's rules, profiles and service, the filtering
// engine's filters, the registry, the network, the users logged on and the programs launched
// in their sessions). Families register further sections of their own.
//
//   {"format": "tarn-sim-machine", "version": 1,
//    "firewall": {...}, "wfp": {...}, "registry": {...}, "network": {...}}
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace sim::machine_file {

// A section: its state as JSON text, and the state set from such a text (throws
// std::invalid_argument with the reason for a text that it cannot take).
struct Section {
    std::string name;
    std::function<std::string()> save;
    std::function<void(std::string_view json)> load;
};
// Adds or replaces the section of that name.
void registerSection(Section section);
std::vector<std::string> sectionNames();

// The machine's state as one JSON document.
std::string save();
// Sets the machine's state from a document: sim::reset(), then every section that the
// document has, in registration order. Throws std::invalid_argument with the reason. A loaded
// machine is a whole one: until the next reset, its firewall keeps an engine filter for each
// enabled rule (named after the rule), as Windows' firewall service does.
void load(std::string_view document);

// The same with files; the file is replaced as a whole, so that a reader never sees half of
// it. False, with the reason in `error`, when the file cannot be read, parsed or written.
bool saveFile(const std::string& path, std::string* error = nullptr);
bool loadFile(const std::string& path, std::string* error = nullptr);

// What a person does to a machine, one command a line; words with spaces in double quotes:
//   network SETUP                     the network of a prepared setup (sim/iphlp_control.h)
//   firewall-service stop|start       the firewall service stops or starts again
//   registry-string KEY NAME VALUE    a REG_SZ value (physical path: "HKLM\SOFTWARE\...")
//   registry-dword KEY NAME NUMBER    a REG_DWORD value
//   logon SESSION USER                USER logs on in session SESSION
//   link HOSTFILE WINDOWSPATH         a file of the host appears at the Windows path (so that
//                                     a host library can be installed on the machine)
// Returns what happened, or "error: " and the reason.
std::string command(std::string_view line);

}  // namespace sim::machine_file
