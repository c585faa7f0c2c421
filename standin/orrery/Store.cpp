#include "standin/orrery/Store.h"

#include <chrono>
#include <cwchar>
#include <map>

#include "common/logging/Log.h"
#include "platform/win.h"
#include "standin/DataFolder.h"
#include "standin/orrery/Dispatcher.h"
#include "standin/orrery/JsonText.h"
#include "standin/orrery/PyxOrrery.h"
#include "standin/orrery/Text.h"

namespace tarn::orrery {

namespace {

constexpr size_t kMaxNamespaceLength = 200;

struct OpenStores {
    std::mutex mutex;
    std::map<std::wstring, std::weak_ptr<Store>> byPath;
};

OpenStores& openStores() {
    static OpenStores stores;
    return stores;
}

uint64_t freshGeneration() {
    // After a reset nobody knows the old generation: start from the clock, so that other
    // processes do not take the new document for the one they have.
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

}  // namespace

std::wstring storeFolder() {
    return standin::dataFolder(L"TARN_ORRERY_ROOT", L"Orrery");
}

bool isValidNamespace(const wchar_t* name) {
    if (name == nullptr) {
        return false;
    }
    const std::wstring_view text(name, std::wcslen(name));
    if (text.empty() || text.size() > kMaxNamespaceLength || text == L"." || text == L"..") {
        return false;
    }
    for (const wchar_t c : text) {
        if (static_cast<uint32_t>(c) < 0x20 || std::wcschr(L"\\/:*?\"<>|", c) != nullptr) {
            return false;
        }
    }
    return toUtf8Strict(text).has_value();
}

std::shared_ptr<Store> Store::open(const std::wstring& folder, const std::wstring& name, int& err) {
    auto& stores = openStores();
    std::shared_ptr<Store> store;
    {
        std::lock_guard lock(stores.mutex);
        const std::wstring path = folder + L"\\" + name;
        store = stores.byPath[path].lock();
        if (!store) {
            std::erase_if(stores.byPath, [](const auto& entry) { return entry.second.expired(); });
            store = std::make_shared<Store>(folder, name);
            err = store->m_file.open();
            if (err != PYX_ORRERY_OK) {
                return nullptr;
            }
            stores.byPath[path] = store;
        }
    }
    err = store->load();
    return err == PYX_ORRERY_OK || err == PYX_ORRERY_E_STORE_RESET ? store : nullptr;
}

Store::Store(const std::wstring& folder, const std::wstring& name)
    : m_file(folder, name), m_document(std::make_shared<const Document>()) {}

int Store::load() {
    std::lock_guard writer(m_writeMutex);
    StoreFile::Lock lock;
    if (const int err = m_file.lock(lock); err != PYX_ORRERY_OK) {
        return err;
    }
    const auto hint = m_file.readHint();
    const FileStamp stamp = m_file.stamp();
    if (hint && m_loaded && m_loaded->hint == *hint && m_loaded->stamp == stamp) {
        return PYX_ORRERY_OK;  // nobody wrote since: what this process holds is the file
    }
    std::optional<std::string> content;
    if (const int err = m_file.read(content); err != PYX_ORRERY_OK) {
        return err;
    }
    auto document = std::make_shared<Document>();
    int result = PYX_ORRERY_OK;
    if (content) {
        int error = PYX_ORRERY_OK;
        if (auto parsed = parseDocument(*content, &error)) {
            *document = std::move(*parsed);
        } else {
            const std::wstring movedTo = m_file.moveAside();
            if (movedTo.empty()) {
                return PYX_ORRERY_E_IO;  // never overwrite what could not be kept
            }
            TARN_LOG(TarnPyxLogging::LevelError)
                << "The store file " << m_file.documentPath() << " does not parse ("
                << PyxOrrery_ErrorAsString(error) << "); it was moved to " << movedTo
                << " and the store starts empty";
            document->generation = freshGeneration();
            if (const int err = m_file.replace(serialize(*document)); err != PYX_ORRERY_OK) {
                return err;
            }
            m_file.writeHint(document->generation);
            result = PYX_ORRERY_E_STORE_RESET;
        }
    }
    if (result == PYX_ORRERY_OK && hint) {
        m_loaded = FileVersion{*hint, stamp};
    }
    std::lock_guard guard(m_mutex);
    m_lastError = PYX_ORRERY_OK;
    m_lastHint = result == PYX_ORRERY_OK ? hint : m_file.readHint();
    m_lastStamp = result == PYX_ORRERY_OK ? stamp : m_file.stamp();
    adoptLocked(std::move(document));
    return result;
}

DocumentPtr Store::snapshot() {
    std::lock_guard guard(m_mutex);
    refreshLocked(false);
    return m_document;
}

void Store::poll() {
    // A writer of this process holds the file lock, so nobody else can write now, and it
    // adopts what it writes itself: looking now would only read its own file back.
    const std::unique_lock writer(m_writeMutex, std::try_to_lock);
    if (!writer.owns_lock()) {
        return;
    }
    std::lock_guard guard(m_mutex);
    refreshLocked(true);
}

int Store::refreshLocked(bool thorough) {
    const auto hint = m_file.readHint();
    const bool hintChanged = !hint || hint != m_lastHint;
    FileStamp stamp;
    if (thorough || hintChanged) {
        stamp = m_file.stamp();
    }
    if (!hintChanged && (!thorough || stamp == m_lastStamp)) {
        return m_lastError;
    }
    std::optional<std::string> content;
    if (const int err = m_file.read(content); err != PYX_ORRERY_OK) {
        return err;  // keep what we have; the next look tries again
    }
    m_lastHint = hint;
    m_lastStamp = stamp;
    m_lastError = PYX_ORRERY_OK;
    if (!content) {
        adoptLocked(std::make_shared<Document>());  // removed by hand: nothing stored
        return PYX_ORRERY_OK;
    }
    int error = PYX_ORRERY_OK;
    auto parsed = parseDocument(*content, &error);
    if (!parsed) {
        // Damaged behind the library's back (or nested deeper than it takes): keep the last
        // good document; the next open moves the file aside.
        const std::string warningKey =
            std::to_string(stamp.writeTime) + ":" + std::to_string(stamp.size);
        if (warningKey != m_lastDamagedWarning) {
            m_lastDamagedWarning = warningKey;
            TARN_LOG(TarnPyxLogging::LevelWarning)
                << "The store file " << m_file.documentPath() << " does not parse ("
                << PyxOrrery_ErrorAsString(error) << "); keeping the last good content";
        }
        m_lastError = error == PYX_ORRERY_E_TOO_DEEP ? error : static_cast<int>(PYX_ORRERY_E_IO);
        return m_lastError;
    }
    if (parsed->generation != m_document->generation || parsed->values != m_document->values ||
        parsed->constraints != m_document->constraints) {
        adoptLocked(std::make_shared<Document>(std::move(*parsed)));
    }
    return PYX_ORRERY_OK;
}

void Store::adoptLocked(DocumentPtr document, const std::vector<std::string>* changedPath) {
    DocumentPtr before = std::exchange(m_document, std::move(document));
    if (m_watchers > 0 && before) {
        Dispatcher::instance().documentChanged(shared_from_this(), std::move(before), m_document,
                                               changedPath);
    }
}

void Store::watch(bool on) {
    std::lock_guard guard(m_mutex);
    m_watchers += on ? 1 : -1;
}

int Store::checkedChange(const Document& base, const Mutation& mutation,
                         std::optional<Document>& next) const {
    using Kind = Mutation::Kind;
    // Read-only binds every handle but the management's, whichever way it writes.
    if (!mutation.overrideConstraints &&
        (mutation.kind == Kind::ReplaceValues ? changesReadOnlyValue(base, mutation.value)
                                              : touchesReadOnlyKey(base, mutation.key))) {
        return PYX_ORRERY_E_READ_ONLY;
    }
    if (mutation.kind == Kind::Set && mutation.path.size() + mutation.depth > kMaxDepth) {
        return PYX_ORRERY_E_TOO_DEEP;
    }
    switch (mutation.kind) {
        case Kind::Set: {
            const Json* existing = findValue(base.values, mutation.path);
            if (existing != nullptr && *existing == mutation.value &&
                existing->is_number_float() == mutation.value.is_number_float()) {
                return PYX_ORRERY_OK;
            }
            next = base;
            next->memberTexts.erase(mutation.path.front());
            return storeValue(next->values, mutation.path, mutation.value);
        }
        case Kind::Erase:
            if (findValue(base.values, mutation.path) == nullptr) {
                return PYX_ORRERY_E_NOT_FOUND;
            }
            next = base;
            next->memberTexts.erase(mutation.path.front());
            return eraseValue(next->values, mutation.path);
        case Kind::SetConstraints: {
            const auto it = base.constraints.find(mutation.key);
            const uint32_t current = it == base.constraints.end() ? 0 : it->second;
            if (current == mutation.constraints) {
                return PYX_ORRERY_OK;
            }
            next = base;
            if (mutation.constraints == 0) {
                next->constraints.erase(mutation.key);
            } else {
                next->constraints[mutation.key] = mutation.constraints;
            }
            return PYX_ORRERY_OK;
        }
        case Kind::ReplaceValues:
            if (base.values == mutation.value) {
                return PYX_ORRERY_OK;
            }
            next = base;
            next->values = mutation.value;
            next->memberTexts.clear();
            return PYX_ORRERY_OK;
    }
    return PYX_ORRERY_E_INVALID_ARGUMENT;
}

int Store::apply(const Mutation& mutation) {
    std::lock_guard writer(m_writeMutex);
    StoreFile::Lock lock;
    if (const int err = m_file.lock(lock); err != PYX_ORRERY_OK) {
        return err;
    }
    DocumentPtr base;
    {
        std::lock_guard guard(m_mutex);
        // Another process may have written just before the lock: a document that cannot be
        // read now must not be replaced by this process's older copy.
        if (const int err = refreshLocked(true); err != PYX_ORRERY_OK) {
            TARN_LOG(TarnPyxLogging::LevelError)
                << "Not writing " << mutation.key << ": the store file " << m_file.documentPath()
                << " cannot be read (" << PyxOrrery_ErrorAsString(err) << ")";
            return err;
        }
        base = m_document;
    }
    std::optional<Document> next;
    if (const int err = checkedChange(*base, mutation, next); err != PYX_ORRERY_OK || !next) {
        return err;
    }
    next->generation = base->generation + 1;
    if (const int err = m_file.replace(serializeCaching(*next)); err != PYX_ORRERY_OK) {
        return err;
    }
    // Readers of this process see the new hint only together with the document it stands for,
    // so that none of them reads the file back.
    std::lock_guard guard(m_mutex);
    m_file.writeHint(next->generation);
    const FileStamp stamp = m_file.stamp();
    m_loaded = FileVersion{next->generation, stamp};  // written here, so known good
    m_lastHint = next->generation;
    m_lastStamp = stamp;
    // Nothing else could change the document while the lock was held: the walk for the changed
    // keys can stay at the changed path.
    const bool scoped = m_document == base && (mutation.kind == Mutation::Kind::Set ||
                                               mutation.kind == Mutation::Kind::Erase);
    adoptLocked(std::make_shared<const Document>(std::move(*next)),
                scoped ? &mutation.path : nullptr);
    return PYX_ORRERY_OK;
}

}  // namespace tarn::orrery
