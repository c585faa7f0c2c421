// NamespaceResolver: installed namespaces by install path, then namespace files below the
// program-files folders.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/WinHandles.h"
#include "common/registry/NamespaceResolver.h"
#include "tests/support/TempDir.h"

namespace {

using tarn::NamespaceResolver;

class FakeResolver : public NamespaceResolver {
public:
    std::map<std::wstring, std::wstring> installed;
    std::wstring native;
    std::wstring x86;
    int installedCalls = 0;

    std::map<std::wstring, std::wstring> installedNamespaces() override {
        ++installedCalls;
        return installed;
    }
    std::wstring nativeProgramFilesFolder() override { return native; }
    std::wstring programFilesX86Folder() override { return x86; }
};

std::vector<uint8_t> utf16File(const std::wstring& text) {
    std::vector<uint8_t> bytes = {0xFF, 0xFE};
    for (const wchar_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    }
    return bytes;
}

void writeFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    tarn::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    ASSERT_TRUE(
        WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
}

TEST(NamespaceResolver, TheLongestMatchingInstallPathWinsWhateverTheCase) {
    FakeResolver resolver;
    resolver.installed = {{L"outer", L"C:\\Program Files\\Tarn\\"},
                          {L"inner", L"C:\\Program Files\\Tarn\\Client\\"}};
    EXPECT_EQ(resolver.resolve(L"C:\\Program Files\\Tarn\\Client\\bin\\fw.dll"), L"inner");
    EXPECT_EQ(resolver.resolve(L"c:\\PROGRAM FILES\\tarn\\client\\fw.dll"), L"inner");
    EXPECT_EQ(resolver.resolve(L"C:\\Program Files\\Tarn\\fw.dll"), L"outer");
    EXPECT_EQ(resolver.resolve(L"C:\\Program Files\\TarnOther\\fw.dll"), L"");
}

TEST(NamespaceResolver, NamesThatCouldEscapeAKeyAreRejected) {
    FakeResolver resolver;
    for (const wchar_t* name : {L"a.b", L"a\\b", L"a/b"}) {
        resolver.installed = {{name, L"C:\\Tarn\\"}};
        EXPECT_EQ(resolver.resolve(L"C:\\Tarn\\fw.dll"), L"");
    }
}

class NamespaceFiles : public ::testing::Test {
protected:
    NamespaceFiles() {
        m_resolver.native = m_programFiles.path();
        CreateDirectoryW(product().c_str(), nullptr);
        CreateDirectoryW(bin().c_str(), nullptr);
    }
    std::wstring product() const { return m_programFiles.file(L"Prod"); }
    std::wstring bin() const { return product() + L"\\bin"; }
    std::wstring module() const { return bin() + L"\\fw.dll"; }

    tarn::test::TempDir m_programFiles;
    FakeResolver m_resolver;
};

TEST_F(NamespaceFiles, TheNearestFileUpToTheProductFolderCounts) {
    writeFile(product() + L"\\namespace.txt", utf16File(L"alpha"));
    EXPECT_EQ(m_resolver.resolve(module()), L"alpha");
    writeFile(bin() + L"\\namespace.txt", utf16File(L"beta"));
    EXPECT_EQ(m_resolver.resolve(module()), L"beta");
}

TEST_F(NamespaceFiles, FilesAboveTheProductFolderDoNotCount) {
    writeFile(m_programFiles.file(L"namespace.txt"), utf16File(L"outside"));
    EXPECT_EQ(m_resolver.resolve(module()), L"");
}

TEST_F(NamespaceFiles, OnlyUtf16WithByteOrderMarkAndAPlainNameIsAccepted) {
    const struct {
        std::vector<uint8_t> content;
        const wchar_t* expected;
    } cases[] = {
        {{'u', 't', 'f', '8'}, L""},
        {{0xFF, 0xFE}, L""},
        {utf16File(L"dotted.name"), L""},
        {utf16File(std::wstring(L"zeroed\0x", 8)), L"zeroed"},
    };
    for (const auto& c : cases) {
        writeFile(product() + L"\\namespace.txt", c.content);
        EXPECT_EQ(m_resolver.resolve(module()), c.expected) << c.content.size() << " bytes";
    }
}

TEST_F(NamespaceFiles, The32BitProgramFilesFolderIsTriedToo) {
    m_resolver.native = L"C:\\Elsewhere";
    m_resolver.x86 = m_programFiles.path() + L"\\";
    writeFile(product() + L"\\namespace.txt", utf16File(L"x86"));
    EXPECT_EQ(m_resolver.resolve(module()), L"x86");
    EXPECT_EQ(m_resolver.resolve(m_programFiles.file(L"fw.dll")), L"") << "no product folder";
}

TEST(NamespaceResolver, AFoundNameIsKeptAndAMissingOneSoughtAgain) {
    wchar_t self[MAX_PATH] = {};
    const std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    FakeResolver resolver;
    EXPECT_EQ(resolver.getNamespace(), L"");
    EXPECT_EQ(resolver.getNamespace(), L"");
    EXPECT_EQ(resolver.installedCalls, 2);

    resolver.installed = {{L"self", path.substr(0, path.find_last_of(L"\\/") + 1)}};
    EXPECT_EQ(resolver.getNamespace(), L"self");
    resolver.installed.clear();
    EXPECT_EQ(resolver.getNamespace(), L"self");
    EXPECT_EQ(resolver.installedCalls, 3);
}

}  // namespace
