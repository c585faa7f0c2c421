#include "common/logging/FileContext.h"

#include <vector>

#include "common/Str.h"
#include "common/registry/SpecialFolders.h"
#include "common/registry/Win32Registry.h"
#include "platform/win.h"

namespace TarnPyxLogging {

namespace {

constexpr DWORD kDefaultMaxSizeKB = 50;
const wchar_t* const kLoggingKey = L"SOFTWARE\\Tarn\\PYX\\Logging";
const wchar_t* const kShellFolders =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const wchar_t* const kLowIntegrityAppData = L"{A520A1A4-1780-4FF6-BD18-167343C5AF16}";
const wchar_t* const kDirectoryAcl = L"D:(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)(A;OICI;GRGX;;;AU)";
const wchar_t* const kShortDirectoryAcl = L"D:(A;;GA;;;SY)(A;;GA;;;BA)";
const wchar_t* const kMutexAcl = L"D:(A;;GA;;;SY)(A;;GA;;;BA)";
constexpr uint32_t kFlagUnnamedMutex = 0x1;
constexpr uint32_t kFlagFixedVerbose = 0x4;
constexpr uint32_t kFlagShortDirectoryAcl = 0x20;

bool isDefaultNamespace(const std::wstring& ns) {
    for (const wchar_t* name : {L"default", L"sy_default", L"snr_default"}) {
        if (tarn::str::equalsNoCase(ns, name)) {
            return true;
        }
    }
    return false;
}

std::vector<BYTE> tokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> data(size);
    if (size == 0 || !GetTokenInformation(token, kind, data.data(), size, &size)) {
        data.clear();
    }
    return data;
}

std::wstring nonEmpty(const std::wstring& value, const std::wstring& fallback) {
    return value.empty() ? fallback : value;
}

// An environment variable's value, or empty when it is not set.
std::wstring expandedVariable(const std::wstring& variable) {
    const std::wstring value = tarn::expandEnvironmentStrings(variable);
    return value == variable ? std::wstring() : value;
}

}  // namespace

// --- FileContextBase ------------------------------------------------------------------------

FileContextBase::FileContextBase(std::wstring ns, std::wstring component, std::wstring logName,
                                 int32_t defaultLevel, uint32_t flags)
    : m_namespace(std::move(ns)),
      m_component(std::move(component)),
      m_logName(std::move(logName)),
      m_defaultLevel(defaultLevel),
      m_flags(flags) {}

FileContextBase::~FileContextBase() = default;

std::wstring FileContextBase::fileName(int number) const {
    return number == 0 ? m_path + L".log" : m_path + L"." + std::to_wstring(number) + L".log";
}

void FileContextBase::relocate(const std::wstring& path, tarn::UniqueHandle mutex) {
    m_file.close();
    m_path = path;
    if (mutex) {
        m_mutex = std::move(mutex);
    }
}

bool FileContextBase::write(std::string_view line) {
    if (!m_mutex) {
        return false;
    }
    const DWORD waited = WaitForSingleObject(m_mutex.get(), m_mutexWaitMs);
    // An abandoned mutex is ours now: its owner died, the file is still fine.
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        return false;
    }
    const bool written = prepareFile() && m_file.write(line);
    ReleaseMutex(m_mutex.get());
    return written;
}

bool FileContextBase::writeLines(const std::vector<std::string>& lines) {
    if (!m_mutex || lines.empty()) {
        return lines.empty();
    }
    const DWORD waited = WaitForSingleObject(m_mutex.get(), m_mutexWaitMs);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        return false;
    }
    bool written = true;
    std::string chunk;
    for (size_t next = 0; written && next < lines.size();) {
        // While the mutex is held nobody else writes, so the size read once counts for the
        // whole chunk; the full file goes through the rotation of a single write.
        std::optional<uint64_t> size = m_file.isOpen() ? m_file.size() : std::nullopt;
        if (!m_file.isOpen() || (size && *size >= m_maxSize)) {
            if (!prepareFile()) {
                written = false;
                break;
            }
            size = m_file.size();
        }
        uint64_t reached = size.value_or(0);
        chunk.clear();
        do {
            chunk += lines[next];
            reached += lines[next].size();
            ++next;
        } while (next < lines.size() && (!size || reached < m_maxSize));
        written = m_file.write(chunk);
    }
    ReleaseMutex(m_mutex.get());
    return written;
}

void FileContextBase::flush() {
    m_file.flush();
}

bool FileContextBase::prepareFile() {
    const auto belowLimit = [this] {
        const auto size = m_file.size();
        return !size || *size < m_maxSize;  // a size that cannot be read does not rotate
    };
    if (m_file.isOpen() && belowLimit()) {
        return true;
    }
    // Full, or another process may have rotated: look at the current file again.
    m_file.close();
    if (m_file.open(fileName()) && belowLimit()) {
        return true;
    }
    m_file.close();
    rotate();
    return m_file.open(fileName());
}

void FileContextBase::rotate() {
    deleteLogFile(fileName(2));
    moveLogFile(fileName(1), fileName(2));
    moveLogFile(fileName(), fileName(1));
}

// A log viewer that holds a file without sharing deletion keeps it from being renamed: its
// lines are copied on and it is emptied instead, so that neither the size bound nor the older
// files suffer (a failed rename would leave the current file growing and make every further
// line rotate the older files away).
void FileContextBase::moveLogFile(const std::wstring& from, const std::wstring& to) {
    if (FileSystem::Path::exists(from) && !FileSystem::Path::rename(from, to)) {
        FileSystem::Path::copyAndEmpty(from, to);
    }
}

// A file that another process still has open stays in the way under its name until closed;
// renaming it first frees the name at once.
void FileContextBase::deleteLogFile(const std::wstring& file) {
    if (!FileSystem::Path::exists(file)) {
        return;
    }
    const std::wstring doomed = file + L"__delete_" + std::to_wstring(GetTickCount64());
    FileSystem::Path::remove(FileSystem::Path::rename(file, doomed) ? doomed : file);
}

// --- FileContext ----------------------------------------------------------------------------

Configuration FileContext::readConfiguration() {
    Configuration configuration;
    if ((m_flags & kFlagFixedVerbose) != 0) {
        configuration = {6, kDefaultMaxSizeKB * 1024, false};
    } else {
        configuration.level =
            static_cast<int32_t>(setting(L"LogLevel", static_cast<DWORD>(m_defaultLevel)));
        configuration.maxSizeBytes =
            static_cast<uint64_t>(setting(L"LogMaxSizeKB", kDefaultMaxSizeKB)) * 1024;
        configuration.debugOutput = setting(L"DebugOutputLogging", 0) != 0;
    }
    setMaxSize(configuration.maxSizeBytes);
    return configuration;
}

// The value under <key>\<component>\<log name>, else <key>\<component>, else <key>.
DWORD FileContext::setting(const wchar_t* name, DWORD fallback) const {
    const tarn::Win32Registry registry(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY);
    const std::wstring base = configurationKey();
    for (const std::wstring& key :
         {base + L"\\" + m_component + L"\\" + m_logName, base + L"\\" + m_component, base}) {
        DWORD value = 0;
        if (registry.readDword(key, name, value)) {
            return value;
        }
    }
    return fallback;
}

std::wstring FileContext::configurationKey() const {
    return kLoggingKey;
}

FileContext::Account FileContext::account() {
    if (m_accountKnown) {
        return m_account;
    }
    m_accountKnown = true;
    m_account = Account::User;
    tarn::UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        return m_account;
    }
    const auto user = tokenInformation(token.get(), TokenUser);
    if (!user.empty() && IsWellKnownSid(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid,
                                        WinLocalSystemSid)) {
        return m_account = Account::System;
    }
    const auto label = tokenInformation(token.get(), TokenIntegrityLevel);
    if (!label.empty()) {
        PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid;
        const DWORD rid = *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1u);
        if (rid < SECURITY_MANDATORY_MEDIUM_RID) {
            m_account = Account::LowIntegrity;
        }
    }
    return m_account;
}

std::wstring FileContext::rootPath() {
    const Account who = account();
    if (who == Account::LowIntegrity) {
        std::wstring path;
        tarn::Win32Registry(HKEY_CURRENT_USER)
            .readString(kShellFolders, kLowIntegrityAppData, path);
        return path;
    }
    const bool system = who == Account::System;
    const HKEY hive = system ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    std::wstring configured;
    std::wstring shellFolder;
    tarn::Win32Registry(hive, KEY_WOW64_32KEY).readString(kLoggingKey, L"RootPath", configured);
    tarn::Win32Registry(hive).readString(
        kShellFolders, system ? L"Common AppData" : L"Local AppData", shellFolder);
    return nonEmpty(
        configured,
        nonEmpty(shellFolder, expandedVariable(system ? L"%ProgramData%" : L"%LOCALAPPDATA%")));
}

bool FileContext::establishLocation() {
    std::wstring root = rootPath();
    while (!root.empty() && (root.back() == L'\\' || root.back() == L'/')) {
        root.pop_back();
    }
    if (root.empty()) {
        return false;
    }
    std::wstring directory = root + L"\\Tarn";
    if (!m_namespace.empty() && !isDefaultNamespace(m_namespace)) {
        directory += L"\\NS\\" + m_namespace;
    }
    directory += L"\\Log\\" + m_component;
    const Account who = account();
    const wchar_t* acl = nullptr;
    if (who == Account::System) {
        acl = (m_flags & kFlagShortDirectoryAcl) != 0 ? kShortDirectoryAcl : kDirectoryAcl;
    }
    bool created = false;
    if (!FileSystem::Path::createDirectories(directory, acl, created)) {
        return false;
    }
    const std::wstring path = directory + L"\\" + m_logName;
    const bool moved = path != this->path();
    if (moved || created) {
        // A recreated directory no longer holds the file that is open.
        relocate(path, moved ? createMutex(path, who) : tarn::UniqueHandle());
    }
    return moved || created;
}

tarn::UniqueHandle FileContext::createMutex(const std::wstring& path, Account who) const {
    if ((m_flags & kFlagUnnamedMutex) == 0) {
        std::wstring name = who == Account::LowIntegrity ? L"Local\\" : L"Global\\";
        name += L"TarnPyxLogging_";
        for (const wchar_t c : path) {
            name += c == L'\\' ? L'_' : c;
        }
        tarn::UniqueLocalMemory descriptor;
        PSECURITY_DESCRIPTOR converted = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kMutexAcl, SDDL_REVISION_1,
                                                                 &converted, nullptr)) {
            descriptor.reset(converted);
        }
        SECURITY_ATTRIBUTES attributes{sizeof attributes, converted, FALSE};
        tarn::UniqueHandle named(CreateMutexW(&attributes, FALSE, name.c_str()));
        if (named) {
            return named;
        }
    }
    // Without a name (asked for, or refused to this account) the process at least
    // serialises its own writers.
    return tarn::UniqueHandle(CreateMutexW(nullptr, FALSE, nullptr));
}

}  // namespace TarnPyxLogging
