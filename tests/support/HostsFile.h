// The simulated machine's hosts file for the life of one test. The tests of a run share the
// machine's drive and ctest runs them side by side, so the tests that write the file or rely on
// its names hold a lock on it meanwhile; otherwise one test's names come and go under another.
#pragma once

#include <string>
#include <string_view>

namespace tarn::test {

class HostsFile {
public:
    // Waits for the lock, then writes `lines` ("address name" per line) as the hosts file.
    explicit HostsFile(std::string_view lines);
    // Removes the file, then lets the next test have it.
    ~HostsFile();
    HostsFile(const HostsFile&) = delete;
    HostsFile& operator=(const HostsFile&) = delete;

    void remove() const;

private:
    int m_lock = -1;
    std::string m_path;
};

// The text of a file of the host (not of the simulated machine), such as the examples' hosts.
std::string readHostFile(const std::string& path);

}  // namespace tarn::test
