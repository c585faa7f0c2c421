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
    : m_file(folder, name), m_document(std::make_shared<Document>()) {}

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

void Store::adoptLocked(std::shared_ptr<Document> document) {
    DocumentPtr before = std::exchange(m_document, std::move(document));
    if (m_watchers > 0 && before) {
        Dispatcher::instance().documentChanged(shared_from_this(), std::move(before), m_document);
    }
}

void Store::watch(bool on) {
    std::lock_guard guard(m_mutex);
    m_watchers += on ? 1 : -1;
}

int Store::vet(const Document& base, const Mutation& mutation, bool& changes) const {
    using Kind = Mutation::Kind;
    changes = false;
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
            changes = existing == nullptr || *existing != mutation.value ||
                      existing->is_number_float() != mutation.value.is_number_float();
            return PYX_ORRERY_OK;
        }
        case Kind::Erase:
            changes = findValue(base.values, mutation.path) != nullptr;
            return changes ? PYX_ORRERY_OK : PYX_ORRERY_E_NOT_FOUND;
        case Kind::SetConstraints: {
            const auto it = base.constraints.find(mutation.key);
            changes = (it == base.constraints.end() ? 0 : it->second) != mutation.constraints;
            return PYX_ORRERY_OK;
        }
        case Kind::ReplaceValues:
            changes = base.values != mutation.value;
            return PYX_ORRERY_OK;
    }
    return PYX_ORRERY_E_INVALID_ARGUMENT;
}

int Store::change(Document& document, const Mutation& mutation) {
    switch (mutation.kind) {
        case Mutation::Kind::Set:
            document.memberTexts.erase(mutation.path.front());
            return storeValue(document.values, mutation.path, mutation.value);
        case Mutation::Kind::Erase:
            document.memberTexts.erase(mutation.path.front());
            return eraseValue(document.values, mutation.path);
        case Mutation::Kind::SetConstraints:
            if (mutation.constraints == 0) {
                document.constraints.erase(mutation.key);
            } else {
                document.constraints[mutation.key] = mutation.constraints;
            }
            return PYX_ORRERY_OK;
        case Mutation::Kind::ReplaceValues:
            document.values = mutation.value;
            document.memberTexts.clear();
            return PYX_ORRERY_OK;
    }
    return PYX_ORRERY_E_INVALID_ARGUMENT;
}

bool Store::soleOwnerLocked() const {
    if (m_document.use_count() != 1) {
        return false;
    }
    // The last other owner let go before (new owners come only under the store's lock). Taking
    // and dropping a reference is an acquire-release on the count, so what that owner read of
    // the document happened before the change that follows.
    [[maybe_unused]] const std::shared_ptr<Document> probe = m_document;
    return true;
}

void Store::recordWriteLocked(uint64_t generation) {
    // Readers of this process see the new hint only together with the document it stands for,
    // so that none of them reads the file back.
    m_file.writeHint(generation);
    const FileStamp stamp = m_file.stamp();
    m_loaded = FileVersion{generation, stamp};  // written here, so known good
    m_lastHint = generation;
    m_lastStamp = stamp;
}

void Store::reportLocked(const std::vector<std::string>& path, const Json* before,
                         const Json* after) {
    if (m_watchers > 0) {
        Dispatcher::instance().valueChanged(shared_from_this(), path,
                                            before ? std::optional(*before) : std::nullopt,
                                            after ? std::optional(*after) : std::nullopt);
    }
}

int Store::changeInPlaceLocked(const Mutation& mutation) {
    Document& document = *m_document;
    const Json* existing = findValue(document.values, mutation.path);
    std::optional<Json> before = existing ? std::optional(*existing) : std::nullopt;
    // How many segments of the path lead through objects that exist: a set makes the others.
    size_t existingDepth = 0;
    for (const Json* node = &document.values;
         existingDepth + 1 < mutation.path.size() && node->is_object(); ++existingDepth) {
        const auto it = node->find(mutation.path[existingDepth]);
        if (it == node->end()) {
            break;
        }
        node = &*it;
    }
    if (const int err = change(document, mutation); err != PYX_ORRERY_OK) {
        return err;  // refused before anything changed
    }
    ++document.generation;
    // Whatever stops the write, the document goes back to what the file still holds.
    bool written = false;
    const auto undo = [&] {
        --document.generation;
        if (before) {
            storeValue(document.values, mutation.path, *before);
        } else {
            eraseValue(document.values,
                       std::vector<std::string>(
                           mutation.path.begin(),
                           mutation.path.begin() + static_cast<ptrdiff_t>(existingDepth + 1)));
        }
        document.memberTexts.erase(mutation.path.front());
    };
    try {
        if (const int err = m_file.replace(serializeCaching(document)); err != PYX_ORRERY_OK) {
            undo();
            return err;
        }
        written = true;
        recordWriteLocked(document.generation);
        reportLocked(mutation.path, before ? &*before : nullptr,
                     findValue(document.values, mutation.path));
    } catch (...) {
        if (!written) {
            undo();
        }
        throw;
    }
    return PYX_ORRERY_OK;
}

int Store::apply(const Mutation& mutation) {
    std::lock_guard writer(m_writeMutex);
    StoreFile::Lock lock;
    if (const int err = m_file.lock(lock); err != PYX_ORRERY_OK) {
        return err;
    }
    std::unique_lock guard(m_mutex);
    // Another process may have written just before the lock: a document that cannot be read
    // now must not be replaced by this process's older copy.
    if (const int err = refreshLocked(true); err != PYX_ORRERY_OK) {
        TARN_LOG(TarnPyxLogging::LevelError)
            << "Not writing " << mutation.key << ": the store file " << m_file.documentPath()
            << " cannot be read (" << PyxOrrery_ErrorAsString(err) << ")";
        return err;
    }
    const bool scoped =
        mutation.kind == Mutation::Kind::Set || mutation.kind == Mutation::Kind::Erase;
    bool changes = false;
    if (const int err = vet(*m_document, mutation, changes); err != PYX_ORRERY_OK || !changes) {
        return err;
    }
    if (scoped && soleOwnerLocked()) {
        // Nobody else holds the document, and nobody gets it while the lock is held: it is
        // changed where it is instead of being copied whole.
        return changeInPlaceLocked(mutation);
    }
    const DocumentPtr base = m_document;
    guard.unlock();
    auto next = std::make_shared<Document>(*base);
    if (const int err = change(*next, mutation); err != PYX_ORRERY_OK) {
        return err;
    }
    next->generation = base->generation + 1;
    if (const int err = m_file.replace(serializeCaching(*next)); err != PYX_ORRERY_OK) {
        return err;
    }
    guard.lock();
    recordWriteLocked(next->generation);
    if (scoped && m_document == base) {
        // Nothing else changed the document while the lock was held: the change is all at the
        // path.
        reportLocked(mutation.path, findValue(base->values, mutation.path),
                     findValue(next->values, mutation.path));
        m_document = std::move(next);
    } else {
        adoptLocked(std::move(next));
    }
    return PYX_ORRERY_OK;
}

}  // namespace tarn::orrery
