// The store of one namespace as this process sees it: the newest document it knows, re-read
// when another process wrote, and changed only under the cross-process write lock. Shared by
// every handle of the process that opened the namespace.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "standin/orrery/Document.h"
#include "standin/orrery/StoreFile.h"

namespace tarn::orrery {

// One change of a document.
struct Mutation {
    enum class Kind { Set, Erase, SetConstraints, ReplaceValues };
    Kind kind = Kind::Set;
    std::vector<std::string> path;     // Set, Erase, SetConstraints
    std::string key;                   // the path joined by '.'
    Json value;                        // Set, ReplaceValues
    size_t depth = 0;                  // Set: levels of objects and arrays in the value
    uint32_t constraints = 0;          // SetConstraints
    bool overrideConstraints = false;  // the management side may change read-only keys
};

class Store : public std::enable_shared_from_this<Store> {
public:
    // The store of `name` below `folder`, shared within the process. `err` receives
    // PYX_ORRERY_OK, or PYX_ORRERY_E_STORE_RESET when a damaged document was moved aside (the
    // store is usable and empty), or an error with a null result.
    static std::shared_ptr<Store> open(const std::wstring& folder, const std::wstring& name,
                                       int& err);

    Store(const std::wstring& folder, const std::wstring& name);
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // The newest document; re-read first when another process has written since.
    DocumentPtr snapshot();
    // Applies one change under the write lock to the newest document and writes it durably.
    // A change that changes nothing writes nothing. The library's error code.
    int apply(const Mutation& mutation);
    // Looks for writes of other processes, also those that announced nothing (the callback
    // thread calls this a few times a second).
    void poll();

    // The folder that holds the store's files.
    const std::wstring& folder() const { return m_file.folder(); }

    // Subscriptions of this store: while there are any, every new document is handed to the
    // callback thread together with the one it replaces.
    void watch(bool on);

private:
    int load();
    // Re-reads the document when the hint (and, with `thorough`, the file's stamp) changed.
    // Called with m_mutex held. PYX_ORRERY_OK when what the process holds is the newest
    // document; else the error, and the process keeps what it had.
    int refreshLocked(bool thorough);
    // Publishes a new document; `changedPath`, when given, is the only place where it differs
    // from the one it replaces.
    // Publishes a document that replaces the whole one.
    void adoptLocked(std::shared_ptr<Document> document);
    // Whether `mutation` may be applied to `base` (the library's error code) and whether it
    // changes anything.
    int vet(const Document& base, const Mutation& mutation, bool& changes) const;
    // Applies a vetted mutation.
    static int change(Document& document, const Mutation& mutation);
    // Whether m_document is held by nobody but this store.
    bool soleOwnerLocked() const;
    // A write of the document with this generation is on disk.
    void recordWriteLocked(uint64_t generation);
    // The value at `path`, and only that, changed.
    void reportLocked(const std::vector<std::string>& path, const Json* before, const Json* after);
    // Sets or erases in m_document itself, which the caller made sure nobody else holds.
    int changeInPlaceLocked(const Mutation& mutation);

    // The last version of the file known to parse (loaded or written here); another handle's
    // open skips the file while it is unchanged.
    struct FileVersion {
        uint64_t hint = 0;
        FileStamp stamp;
    };

    StoreFile m_file;
    std::mutex m_writeMutex;  // writers of this process, one at a time, before the file lock
    std::optional<FileVersion> m_loaded;  // guarded by m_writeMutex
    std::mutex m_mutex;                   // guards the members below
    // Changed in place only while nobody else holds it (readers take it under m_mutex).
    std::shared_ptr<Document> m_document;
    std::optional<uint64_t> m_lastHint;
    FileStamp m_lastStamp;
    int m_lastError = 0;               // why the file last looked at could not be taken, or 0
    std::string m_lastDamagedWarning;  // one warning per damaged version of the file
    int m_watchers = 0;
};

// The folder that holds the stores: TARN_ORRERY_ROOT, else the registry's "DataPath", else
// %ProgramData%\Tarn\Orrery.
std::wstring storeFolder();
// Whether a namespace name can name a file: not empty, no path or reserved characters.
bool isValidNamespace(const wchar_t* name);

}  // namespace tarn::orrery
