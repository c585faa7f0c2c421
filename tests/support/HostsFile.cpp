#include "tests/support/HostsFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "sim/machine.h"

namespace tarn::test {

HostsFile::HostsFile(std::string_view lines)
    : m_path(sim::hostPath(L"C:\\Windows\\System32\\drivers\\etc\\hosts")) {
    // An advisory lock of the host goes with its process, so a crashed test frees it.
    const std::string lockPath = sim::root() + "/hosts-file.lock";
    m_lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lock < 0 || ::flock(m_lock, LOCK_EX) != 0) {
        const int error = errno;
        if (m_lock >= 0) {
            ::close(m_lock);
        }
        throw std::system_error(error, std::generic_category(), "lock " + lockPath);
    }
    std::filesystem::create_directories(std::filesystem::path(m_path).parent_path());
    std::ofstream(m_path, std::ios::binary) << lines;
}

HostsFile::~HostsFile() {
    remove();
    ::close(m_lock);
}

void HostsFile::remove() const {
    std::error_code ignored;
    std::filesystem::remove(m_path, ignored);
}

std::string readHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace tarn::test
