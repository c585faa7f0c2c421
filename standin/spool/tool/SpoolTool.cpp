#include "standin/spool/tool/SpoolTool.h"

#include <charconv>
#include <optional>

#include <nlohmann/json.hpp>

#include "common/Str.h"
#include "platform/win.h"
#include "standin/spool/Spool.h"

namespace tarn::spool {

namespace {

constexpr const char* kUsage = R"usage(Usage: tarn_spool [options]

Prints the alerts and events that the product's libraries spooled for one namespace.

Options:
  -n, --namespace NAME   the namespace (default: "default")
      --root FOLDER      the folder of the spools (default: the environment variable
                         TARN_SPOOL_ROOT, else %ProgramData%\Tarn\Spool)
  -f, --follow           keep printing lines as they are added, until interrupted
      --json             print the lines as they are stored
      --interval MS      how often to look for new lines while following (default: 250)
  -h, --help             show this text

Each line reads "TIME SOURCE TYPE PAYLOAD". Exit code: 0 on success, 1 when the spool cannot
be read, 2 for a wrong command line.
)usage";

struct Options {
    std::wstring nameSpace = L"default";
    std::optional<std::wstring> root;
    bool follow = false;
    bool json = false;
    DWORD interval = 250;
};

std::optional<Options> parse(const std::vector<std::wstring>& args, std::ostream& err, bool& help) {
    Options options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == L"-h" || arg == L"--help") {
            help = true;
        } else if ((arg == L"-n" || arg == L"--namespace") && hasValue) {
            options.nameSpace = args[++i];
        } else if (arg == L"--root" && hasValue) {
            options.root = args[++i];
        } else if (arg == L"-f" || arg == L"--follow") {
            options.follow = true;
        } else if (arg == L"--json") {
            options.json = true;
        } else if (arg == L"--interval" && hasValue) {
            const std::string text = str::toUtf8(args[++i]);
            unsigned value = 0;
            const auto [end, error] =
                std::from_chars(text.data(), text.data() + text.size(), value);
            if (error != std::errc() || end != text.data() + text.size() || value == 0) {
                err << "tarn_spool: the interval is a number of milliseconds\n";
                return std::nullopt;
            }
            options.interval = value;
        } else {
            err << "tarn_spool: unknown or incomplete option " << str::toUtf8(arg) << "\n";
            return std::nullopt;
        }
    }
    if (!isValidNamespace(options.nameSpace)) {
        err << "tarn_spool: not a namespace name: " << str::toUtf8(options.nameSpace) << "\n";
        return std::nullopt;
    }
    return options;
}

}  // namespace

std::string describeLine(const std::string& line) {
    const nlohmann::json entry = nlohmann::json::parse(line, nullptr, false);
    if (entry.is_discarded() || !entry.is_object()) {
        return line;
    }
    const auto text = [&](const char* key) {
        const auto it = entry.find(key);
        return it != entry.end() && it->is_string() ? it->get<std::string>() : std::string("?");
    };
    const auto payload = entry.find("payload");
    return text("time") + " " + text("source") + " " + text("type") + " " +
           (payload != entry.end() ? payload->dump() : std::string("{}"));
}

int runTool(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err,
            const std::function<bool()>& keepFollowing) {
    bool help = false;
    const auto options = parse(args, err, help);
    if (help) {
        out << kUsage;
        return 0;
    }
    if (!options) {
        err << kUsage;
        return 2;
    }
    const std::wstring folder = options->root ? *options->root : spoolFolder();
    Reader reader(folder + L"\\" + options->nameSpace + L".jsonl");
    for (;;) {
        const auto lines = reader.readNew();
        if (!lines) {
            err << "tarn_spool: cannot read the spool of " << str::toUtf8(options->nameSpace)
                << ", error " << GetLastError() << "\n";
            return 1;
        }
        for (const std::string& line : *lines) {
            out << (options->json ? line : describeLine(line)) << "\n";
        }
        out.flush();
        if (!options->follow || !keepFollowing()) {
            return 0;
        }
        Sleep(options->interval);
    }
}

}  // namespace tarn::spool
