// A fresh folder for one test, removed with everything in it at the end.
#pragma once

#include <string>

namespace tarn::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder's path, without a trailing backslash.
    const std::wstring& path() const { return m_path; }
    std::wstring file(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

// Removes a folder and everything below it; missing folders are fine.
void removeTree(const std::wstring& path);
// Whole content of a file, or nothing when it cannot be read.
std::string readFile(const std::wstring& path);
bool fileExists(const std::wstring& path);

}  // namespace tarn::test
