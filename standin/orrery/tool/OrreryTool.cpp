#include "standin/orrery/tool/OrreryTool.h"

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <iterator>
#include <mutex>
#include <optional>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "common/Str.h"
#include "common/WinHandles.h"
#include "platform/win.h"
#include "settings_store/OrreryResources.h"
#include "standin/orrery/JsonText.h"
#include "standin/orrery/PyxOrrery.h"
#include "standin/orrery/Text.h"

namespace tarn::orrery {

namespace {

constexpr const char* kUsage = R"usage(Usage: orrery [options] <command> [arguments]

Reads and changes the settings store (the Orrery) of one namespace.

Options:
  -n, --namespace NAME   the namespace to work on (default: "default")
      --root FOLDER      the folder of the stores (default: the environment variable
                         TARN_ORRERY_ROOT, else %ProgramData%\Tarn\Orrery)
  -h, --help             show this text

Commands:
  get KEY [--type T]         print the value under KEY
  set KEY VALUE [--type T]   store VALUE under KEY
  delete KEY                 remove the value under KEY
  watch KEY... [--count N] [--timeout SECONDS]
                             print each change at or below the keys as "KEY VALUE" (VALUE
                             is JSON, or "(deleted)"), until N changes were seen or the time
                             is up (default: until interrupted)
  import FILE                replace the whole document by the JSON object in FILE ("-" reads
                             standard input)
  export [FILE]              write the whole document as JSON to FILE (default: standard
                             output)
  lock KEY                   make KEY and everything below it read-only for the system
                             (this tool and other management handles still change it)
  unlock KEY                 make KEY writable again
  constraints KEY            print the constraint bits in force for KEY

Types (T): json (the default), bool (true/false), int32, int64, string.
Keys are dotted paths into the document, such as windows.firewall.enabled.
Exit code: 0 on success, 1 when the command failed, 2 for a wrong command line; a failed
command changes nothing.
)usage";

// A failure with its one-line message and exit code.
struct ToolError : std::runtime_error {
    ToolError(const std::string& message, int code = 1)
        : std::runtime_error(message), exitCode(code) {}
    int exitCode;
};

struct UsageError : ToolError {
    explicit UsageError(const std::string& message) : ToolError(message, 2) {}
};

std::string utf8(std::wstring_view text) {
    return str::toUtf8(text);
}

std::string describe(int code) {
    return utf8(PyxOrrery_ErrorAsString(code));
}

void check(int code, const std::wstring& what) {
    if (code != PYX_ORRERY_OK) {
        throw ToolError(utf8(what) + ": " + describe(code));
    }
}

// A string that the library allocated.
std::string takeUtf8(char* text) {
    std::string copy = text == nullptr ? std::string() : std::string(text);
    PyxOrrery_FreeString(text);
    return copy;
}

enum class ValueType { Json, Bool, Int32, Int64, String };

ValueType parseType(const std::wstring& name) {
    static const std::pair<const wchar_t*, ValueType> types[] = {{L"json", ValueType::Json},
                                                                 {L"bool", ValueType::Bool},
                                                                 {L"int32", ValueType::Int32},
                                                                 {L"int64", ValueType::Int64},
                                                                 {L"string", ValueType::String}};
    for (const auto& [text, type] : types) {
        if (name == text) {
            return type;
        }
    }
    throw UsageError("unknown type '" + utf8(name) + "' (json, bool, int32, int64, string)");
}

template <typename Int>
Int parseInteger(const std::wstring& text, const char* typeName) {
    const std::string narrow = utf8(text);
    Int value = 0;
    const auto [end, error] = std::from_chars(narrow.data(), narrow.data() + narrow.size(), value);
    if (narrow.empty() || error != std::errc() || end != narrow.data() + narrow.size()) {
        throw ToolError("'" + narrow + "' is not an " + typeName);
    }
    return value;
}

bool parseBool(const std::wstring& text) {
    if (text == L"true" || text == L"1") {
        return true;
    }
    if (text == L"false" || text == L"0") {
        return false;
    }
    throw ToolError("'" + utf8(text) + "' is not a bool (true or false)");
}

// The command line after the global options: positional words and --name value options.
class Arguments {
public:
    Arguments(std::vector<std::wstring> words,
              std::vector<std::pair<std::wstring, std::wstring>> options)
        : m_words(std::move(words)), m_options(std::move(options)) {}

    size_t count() const { return m_words.size(); }
    const std::wstring& word(size_t index) const { return m_words.at(index); }
    const std::vector<std::wstring>& words() const { return m_words; }
    std::optional<std::wstring> option(const std::wstring& name) const {
        for (const auto& [key, value] : m_options) {
            if (key == name) {
                return value;
            }
        }
        return std::nullopt;
    }
    void expect(size_t minimum, size_t maximum, const char* usage) const {
        if (m_words.size() < minimum || m_words.size() > maximum) {
            throw UsageError(std::string("usage: orrery ") + usage);
        }
    }
    void allowOptions(std::initializer_list<const wchar_t*> allowed) const {
        for (const auto& [key, value] : m_options) {
            bool known = false;
            for (const wchar_t* name : allowed) {
                known = known || key == name;
            }
            if (!known) {
                throw UsageError("unknown option --" + utf8(key));
            }
        }
    }

private:
    std::vector<std::wstring> m_words;
    std::vector<std::pair<std::wstring, std::wstring>> m_options;
};

std::string readWholeFile(const std::wstring& path) {
    if (path == L"-") {
        return std::string(std::istreambuf_iterator<char>(std::cin),
                           std::istreambuf_iterator<char>());
    }
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        throw ToolError("cannot open " + utf8(path) + " (error " + std::to_string(GetLastError()) +
                        ")");
    }
    std::string content;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        content.append(buffer, got);
    }
    return content;
}

void writeWholeFile(const std::wstring& path, const std::string& content) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file ||
        !WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                   nullptr) ||
        written != content.size()) {
        throw ToolError("cannot write " + utf8(path) + " (error " + std::to_string(GetLastError()) +
                        ")");
    }
}

// The value under a key as JSON text, or nullopt when there is none.
std::optional<std::string> valueText(PyxOrreryHandle handle, const std::wstring& key) {
    int err = PYX_ORRERY_E_FAILED;
    UniqueOrreryObject object(PyxOrrery_GetObject(handle, key.c_str(), &err));
    if (err == PYX_ORRERY_E_NOT_FOUND) {
        return std::nullopt;
    }
    check(err, key);
    return takeUtf8(PyxOrrery_ObjectToStringUtf8(object.get()));
}

class Tool {
public:
    explicit Tool(std::ostream& out) : m_out(out) {}

    int run(const std::wstring& command, const Arguments& args, PyxOrreryHandle handle) {
        m_handle = handle;
        if (command == L"get") {
            get(args);
        } else if (command == L"set") {
            set(args);
        } else if (command == L"delete") {
            args.expect(1, 1, "delete KEY");
            args.allowOptions({});
            check(PyxOrrery_DeleteValue(m_handle, args.word(0).c_str()), args.word(0));
        } else if (command == L"watch") {
            watch(args);
        } else if (command == L"import") {
            importDocument(args);
        } else if (command == L"export") {
            exportDocument(args);
        } else if (command == L"lock" || command == L"unlock") {
            args.expect(1, 1, "lock|unlock KEY");
            args.allowOptions({});
            check(PyxOrrery_SetConstraints(
                      m_handle, args.word(0).c_str(),
                      command == L"lock" ? static_cast<uint32_t>(PYX_ORRERY_CONSTRAINT_READ_ONLY)
                                         : 0u),
                  args.word(0));
        } else if (command == L"constraints") {
            args.expect(1, 1, "constraints KEY");
            args.allowOptions({});
            int err = PYX_ORRERY_E_FAILED;
            const uint32_t bits = PyxOrrery_GetConstraints(m_handle, args.word(0).c_str(), &err);
            check(err, args.word(0));
            m_out << bits << "\n";
        }
        return 0;
    }

private:
    void get(const Arguments& args) {
        args.expect(1, 1, "get KEY [--type T]");
        args.allowOptions({L"type"});
        const std::wstring& key = args.word(0);
        const ValueType type = parseType(args.option(L"type").value_or(L"json"));
        int err = PYX_ORRERY_E_FAILED;
        switch (type) {
            case ValueType::Json: {
                const auto text = valueText(m_handle, key);
                check(text ? PYX_ORRERY_OK : PYX_ORRERY_E_NOT_FOUND, key);
                m_out << *text << "\n";
                return;
            }
            case ValueType::Bool: {
                const int value = PyxOrrery_GetBool(m_handle, key.c_str(), 0, &err);
                check(err, key);
                m_out << (value == 1 ? "true" : "false") << "\n";
                return;
            }
            case ValueType::Int32: {
                const int32_t value = PyxOrrery_GetInt32(m_handle, key.c_str(), 0, &err);
                check(err, key);
                m_out << value << "\n";
                return;
            }
            case ValueType::Int64: {
                const int64_t value = PyxOrrery_GetInt64(m_handle, key.c_str(), 0, &err);
                check(err, key);
                m_out << value << "\n";
                return;
            }
            case ValueType::String: {
                wchar_t* value = PyxOrrery_GetString(m_handle, key.c_str(), nullptr, &err);
                const std::wstring copy = value == nullptr ? L"" : value;
                PyxOrrery_FreeString(value);
                check(err, key);
                m_out << utf8(copy) << "\n";
                return;
            }
        }
    }

    void set(const Arguments& args) {
        args.expect(2, 2, "set KEY VALUE [--type T]");
        args.allowOptions({L"type"});
        const std::wstring& key = args.word(0);
        const std::wstring& value = args.word(1);
        int code = PYX_ORRERY_E_FAILED;
        switch (parseType(args.option(L"type").value_or(L"json"))) {
            case ValueType::Json:
                code =
                    PyxOrrery_SetObjectFromStringUtf8(m_handle, key.c_str(), utf8(value).c_str());
                if (code == PYX_ORRERY_E_INVALID_JSON) {
                    throw ToolError(utf8(key) + ": " + describe(code) +
                                    " (use --type string to store text)");
                }
                break;
            case ValueType::Bool:
                code = PyxOrrery_SetBool(m_handle, key.c_str(), parseBool(value) ? 1 : 0);
                break;
            case ValueType::Int32:
                code = PyxOrrery_SetInt32(m_handle, key.c_str(),
                                          parseInteger<int32_t>(value, "int32"));
                break;
            case ValueType::Int64:
                code = PyxOrrery_SetInt64(m_handle, key.c_str(),
                                          parseInteger<int64_t>(value, "int64"));
                break;
            case ValueType::String:
                code = PyxOrrery_SetString(m_handle, key.c_str(), value.c_str());
                break;
        }
        check(code, key);
    }

    // The library sees text up to its first NUL and takes JSON as the store does: the tool
    // checks the whole file first, so that it can say what is wrong.
    void importDocument(const Arguments& args) {
        args.expect(1, 1, "import FILE");
        args.allowOptions({});
        const std::string text = readWholeFile(args.word(0));
        const std::string nothing = "; nothing was imported";
        if (const size_t nul = text.find('\0'); nul != std::string::npos) {
            throw ToolError("import: " + utf8(args.word(0)) + " holds a NUL byte at offset " +
                            std::to_string(nul) + nothing);
        }
        if (!fromUtf8Strict(text)) {
            throw ToolError("import: " + describe(PYX_ORRERY_E_INVALID_TEXT) + nothing);
        }
        if (const ParsedJson parsed = parseJson(text); parsed.error != PYX_ORRERY_OK) {
            throw ToolError("import: " + describe(parsed.error) + ": " + parsed.reason + nothing);
        }
        check(PyxOrrery_ImportUtf8(m_handle, text.c_str()), L"import");
    }

    void exportDocument(const Arguments& args) {
        args.expect(0, 1, "export [FILE]");
        args.allowOptions({});
        int err = PYX_ORRERY_E_FAILED;
        const std::string text = takeUtf8(PyxOrrery_ExportUtf8(m_handle, &err));
        check(err, L"export");
        const std::string pretty = nlohmann::json::parse(text).dump(2) + "\n";
        if (args.count() == 0 || args.word(0) == L"-") {
            m_out << pretty;
        } else {
            writeWholeFile(args.word(0), pretty);
        }
    }

    // Runs on the library's callback thread; the handle is closed before the tool goes away.
    static void WINAPI onChange(const wchar_t* key, const void*, const void*, void* context) {
        auto* tool = static_cast<Tool*>(context);
        std::string line;
        try {  // nothing may leave a callback of the library
            line = utf8(key) + " " + valueText(tool->m_handle, key).value_or("(deleted)");
        } catch (const std::exception& e) {
            line = "(" + std::string(e.what()) + ")";
        }
        std::lock_guard lock(tool->m_watchMutex);
        tool->m_out << line << std::endl;
        ++tool->m_seen;
        tool->m_changed.notify_all();
    }

    void watch(const Arguments& args) {
        if (args.count() == 0) {
            throw UsageError("usage: orrery watch KEY... [--count N] [--timeout SECONDS]");
        }
        args.allowOptions({L"count", L"timeout"});
        const auto count = args.option(L"count");
        const auto timeout = args.option(L"timeout");
        const uint64_t wanted =
            count ? parseInteger<uint64_t>(*count, "integer count") : UINT64_MAX;
        const auto seconds = timeout ? parseInteger<uint32_t>(*timeout, "integer timeout") : 0;
        for (const auto& key : args.words()) {
            check(PyxOrrery_Subscribe(m_handle, key.c_str(), &Tool::onChange, this), key);
        }
        std::unique_lock lock(m_watchMutex);
        const auto done = [&] { return m_seen >= wanted; };
        if (timeout) {
            m_changed.wait_for(lock, std::chrono::seconds(seconds), done);
        } else {
            m_changed.wait(lock, done);
        }
    }

    std::ostream& m_out;
    PyxOrreryHandle m_handle = nullptr;
    std::mutex m_watchMutex;
    std::condition_variable m_changed;
    uint64_t m_seen = 0;
};

struct CommandLine {
    std::wstring nameSpace = L"default";
    std::optional<std::wstring> root;
    bool help = false;
    std::wstring command;
    std::vector<std::wstring> words;
    std::vector<std::pair<std::wstring, std::wstring>> options;
};

CommandLine parseCommandLine(const std::vector<std::wstring>& args) {
    CommandLine line;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        const auto value = [&]() -> const std::wstring& {
            if (i + 1 >= args.size()) {
                throw UsageError("option " + utf8(arg) + " needs a value");
            }
            return args[++i];
        };
        if (arg == L"-h" || arg == L"--help") {
            line.help = true;
        } else if (arg == L"-n" || arg == L"--namespace") {
            line.nameSpace = value();
        } else if (arg == L"--root") {
            line.root = value();
        } else if (arg.size() > 2 && arg.compare(0, 2, L"--") == 0) {
            const std::wstring name = arg.substr(2);
            line.options.emplace_back(name, value());
        } else if (line.command.empty()) {
            line.command = arg;
        } else {
            line.words.push_back(arg);
        }
    }
    return line;
}

bool isCommand(const std::wstring& name) {
    for (const wchar_t* known : {L"get", L"set", L"delete", L"watch", L"import", L"export", L"lock",
                                 L"unlock", L"constraints"}) {
        if (name == known) {
            return true;
        }
    }
    return false;
}

}  // namespace

int runTool(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err) {
    try {
        CommandLine line = parseCommandLine(args);
        if (line.help) {
            out << kUsage;
            return 0;
        }
        if (line.command.empty()) {
            throw UsageError("no command given (see orrery --help)");
        }
        if (!isCommand(line.command)) {
            throw UsageError("unknown command '" + utf8(line.command) + "' (see orrery --help)");
        }
        if (line.root && !SetEnvironmentVariableW(L"TARN_ORRERY_ROOT", line.root->c_str())) {
            throw ToolError("cannot use the folder " + utf8(*line.root));
        }
        Tool tool(out);  // outlives the handle, whose callbacks use it
        int code = PYX_ORRERY_E_FAILED;
        UniqueOrreryHandle handle(
            PyxOrrery_OpenHandle(line.nameSpace.c_str(), L"S-1-5-18", L"orrery", &code));
        if (!handle) {
            throw ToolError("cannot open the namespace '" + utf8(line.nameSpace) +
                            "': " + describe(code));
        }
        if (code == PYX_ORRERY_E_STORE_RESET) {
            err << "orrery: warning: " << describe(code) << "\n";
        }
        // The plain handle above reports why a store cannot be opened; the tool works through
        // a management handle, which writes keys that it made read-only for the system.
        const UniqueOrreryHandle management(PyxOrrery_OpenHandleEx(
            line.nameSpace.c_str(), L"S-1-5-18", L"orrery", 0, PYX_ORRERY_OPEN_MANAGEMENT));
        if (!management) {
            throw ToolError("cannot open the namespace '" + utf8(line.nameSpace) + "'");
        }
        return tool.run(line.command, Arguments(line.words, line.options), management.get());
    } catch (const ToolError& e) {
        err << "orrery: " << e.what() << "\n";
        return e.exitCode;
    } catch (const std::exception& e) {
        err << "orrery: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace tarn::orrery
