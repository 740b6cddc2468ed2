// An example for the application's developer: how the application starts
// velmarch-updater.exe and how it reads the outcome on its next start. The
// file stands alone (Windows SDK and the C++ standard library only) so that it
// can be copied as it is; the functions above main() are the part to copy.
//
// As a program it does what an application would, one step per command:
//
//   launch-updater start UPDATER.exe OPTION VALUE ...
//       starts UPDATER.exe elevated (ShellExecuteExW, "runas") with the
//       options given plus --parent-process-id of this process, prints
//       "started <process id> <start time>" and exits at once, as the
//       application must;
//   launch-updater read-result RESULT.json [PROCESS-ID START-TIME]
//       prints the outcome's status word, the exit code and the message, one
//       per line; "aborted" alone when there is no result file, or "running"
//       when the run that `start` printed is still going;
//   launch-updater check-quoting
//       composes a table of awkward arguments and splits them again with
//       CommandLineToArgvW, the rule the updater reads its command line by.
//
// Exit codes: 0 done, 1 the consent prompt was declined or the quoting check
// failed, 2 usage or a failure to start.
//
// Build (MinGW-w64): x86_64-w64-mingw32-g++ -std=c++20 -municode -static
//   launch_updater.cpp -lshell32 -o launch-updater.exe

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstddef>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmarch_example {

// ---------------------------------------------------------------------------
// Composing the parameters. The updater reads its command line by the C
// runtime's rules (those of CommandLineToArgvW): an argument that is empty or
// holds a blank or tab goes in double quotes; a double quote inside is
// written \"; backslashes are literal except right before a double quote
// (the escaped one or the closing one), where each is doubled.
// ---------------------------------------------------------------------------

std::wstring quote_argument(std::wstring_view argument) {
    const bool quoted = argument.empty() || argument.find_first_of(L" \t") != std::wstring_view::npos;
    std::wstring out;
    if (quoted) out += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
        } else {
            if (c == L'"') out.append(backslashes + 1, L'\\');  // double the run, escape the quote
            backslashes = 0;
        }
        out += c;
    }
    if (quoted) {
        out.append(backslashes, L'\\');  // a trailing run must not escape the closing quote
        out += L'"';
    }
    return out;
}

// "--name value" pairs, in the order given, each word quoted as above.
std::wstring compose_parameters(const std::vector<std::wstring>& words) {
    std::wstring line;
    for (const std::wstring& word : words) {
        if (!line.empty()) line += L' ';
        line += quote_argument(word);
    }
    return line;
}

// ---------------------------------------------------------------------------
// Starting the updater elevated. The application passes its own process id
// and exits right after this returns: the updater waits at most 90 seconds
// for it before it installs anything.
// ---------------------------------------------------------------------------

enum class StartOutcome { started, declined, failed };

// What the application keeps of a run it started (with the result path), to
// tell on its next start a run still going from one that has ended. Windows
// reuses process ids, so the process's start time goes with its id.
struct UpdaterRun {
    DWORD process_id = 0;
    ULONGLONG start_time = 0;  // FILETIME of the process's creation, in 100 ns units
};

struct Started {
    StartOutcome outcome = StartOutcome::failed;
    UpdaterRun run;
    DWORD error = 0;  // GetLastError() when it failed
};

ULONGLONG filetime_value(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The folder part of a full path, "" when it has none.
std::wstring folder_of(const std::wstring& path) {
    const std::size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

// `options` holds every option but --parent-process-id, as "--name", "value".
// The earlier result file and helper log are deleted first: the application
// owns them, and a run that stops at its command line would leave them in
// place, looking like this run's. The result's folder is made here: the
// updater makes the helper log's folders, never the result's.
Started start_updater_elevated(const std::wstring& updater_path, std::vector<std::wstring> options) {
    for (std::size_t i = 0; i + 1 < options.size(); i += 2) {
        const std::wstring& value = options[i + 1];
        if (options[i] == L"--result-path" || options[i] == L"--helper-log-path") DeleteFileW(value.c_str());
        if (options[i] == L"--result-path" && !folder_of(value).empty())
            SHCreateDirectoryExW(nullptr, folder_of(value).c_str(), nullptr);  // all levels; an existing one is fine
    }
    options.insert(options.begin(), {L"--parent-process-id", std::to_wstring(GetCurrentProcessId())});
    const std::wstring parameters = compose_parameters(options);

    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";                  // elevated: Windows asks for consent
    info.lpFile = updater_path.c_str();      // <install dir>\velmarch-updater.exe, a full path
    info.lpParameters = parameters.c_str();  // every option, quoted by quote_argument()
    info.nShow = SW_HIDE;                    // it has no window anyway
    Started started;
    if (!ShellExecuteExW(&info)) {
        // ERROR_CANCELLED (1223): the user declined the prompt. Nothing was
        // started; keep the download and offer the update again later.
        started.error = GetLastError();
        started.outcome = started.error == ERROR_CANCELLED ? StartOutcome::declined : StartOutcome::failed;
        return started;
    }
    started.outcome = StartOutcome::started;
    if (info.hProcess != nullptr) {  // no handle when no new process was started
        started.run.process_id = GetProcessId(info.hProcess);
        FILETIME created{}, exited{}, kernel{}, user{};
        if (GetProcessTimes(info.hProcess, &created, &exited, &kernel, &user))
            started.run.start_time = filetime_value(created);
        CloseHandle(info.hProcess);  // not waited for: the application exits now
    }
    return started;
}

// ---------------------------------------------------------------------------
// Telling a run still going from one that has ended, on the next start. The
// result file is written at the end of the run, so while it is missing the
// run may be still going (the user started the application by hand while
// Windows Installer works) or may have ended without one.
// ---------------------------------------------------------------------------

enum class RunState {
    running,  // the updater is still at work: wait for it, then read the result
    ended,    // the process is gone: a missing result now means no result
    unknown,  // the process could not be looked at: go by the helper log
};

RunState updater_run_state(const UpdaterRun& run) {
    if (run.process_id == 0) return RunState::unknown;
    const HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, run.process_id);
    if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER ? RunState::ended : RunState::unknown;
    RunState state = RunState::unknown;
    FILETIME created{}, exited{}, kernel{}, user{};
    if (GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        if (filetime_value(created) != run.start_time) {
            state = RunState::ended;  // the id belongs to another process now
        } else {
            state = WaitForSingleObject(process, 0) == WAIT_TIMEOUT ? RunState::running : RunState::ended;
        }
    }
    CloseHandle(process);
    return state;
}

// ---------------------------------------------------------------------------
// Reading the outcome on the next start. The result file is one compact JSON
// object: {"status":"...","exitCode":N,"message":"...","expectedVersion":"..."}.
// The application deletes it before it starts the updater, so a missing file
// once the run has ended means the run wrote none: it aborted (the reason
// went to standard error; the helper log's last line tells which abort), or
// was killed. README.md, "Reading the outcome", reads it with the installed
// version and the helper log.
// ---------------------------------------------------------------------------

enum class UpdateStatus {
    success,                      // installed and confirmed: delete the download
    restart_required,             // installed, Windows must restart: delete the download, say so
    restart_initiated,            // installed, Windows is restarting: delete the download
    version_conflict,             // another version is registered: nothing installed, report it
    install_verification_failed,  // installed, not confirmed: offer a repair (--repair-mode true)
    error,                        // refused package or installer error: see exit_code and message
    aborted,                      // no result: see the helper log
    unreadable,                   // a result file that is not what the updater writes, or not yet whole
    running,                      // no result yet: the run is still going
};

struct UpdateOutcome {
    UpdateStatus status = UpdateStatus::aborted;
    long long exit_code = 0;
    std::string message;           // UTF-8, as the updater wrote it
    std::string expected_version;  // UTF-8
};

namespace json {

// Appends the UTF-8 form of a code point.
void append_utf8(std::string& out, unsigned long code_point) {
    if (code_point < 0x80) {
        out += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        out += static_cast<char>(0xC0 | (code_point >> 6));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        out += static_cast<char>(0xE0 | (code_point >> 12));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code_point >> 18));
        out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    }
}

// Reads a JSON string starting at its opening quote; `at` ends after it.
std::optional<std::string> read_string(std::string_view text, std::size_t& at) {
    if (at >= text.size() || text[at] != '"') return std::nullopt;
    std::string out;
    for (++at; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '"') {
            ++at;
            return out;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++at >= text.size()) return std::nullopt;
        switch (text[at]) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                if (at + 4 >= text.size()) return std::nullopt;
                unsigned long unit = 0;
                for (const char digit : text.substr(at + 1, 4)) {
                    const auto value = std::string_view("0123456789abcdef").find(static_cast<char>(digit | 0x20));
                    if (value == std::string_view::npos) return std::nullopt;
                    unit = unit * 16 + static_cast<unsigned long>(value);
                }
                append_utf8(out, unit);  // the updater escapes only control characters this way
                at += 4;
                break;
            }
            default: return std::nullopt;
        }
    }
    return std::nullopt;
}

// The value of "key" in a flat object: a string, or a number as its text.
std::optional<std::string> member(std::string_view text, std::string_view key, bool is_string) {
    // Appended piece by piece: GCC 12 at -O3 takes `"\"" + std::string` for an
    // overlapping copy (a false -Wrestrict, GCC bug 105329).
    std::string quoted_key(1, '"');
    quoted_key.append(key).append("\":");
    std::size_t at = text.find(quoted_key);
    if (at == std::string_view::npos) return std::nullopt;
    at += quoted_key.size();
    if (is_string) return read_string(text, at);
    const std::size_t end = text.find_first_of(",}", at);
    if (end == std::string_view::npos) return std::nullopt;
    return std::string(text.substr(at, end - at));
}

}  // namespace json

// `run` is what start_updater_elevated returned for this run, as the
// application kept it.
UpdateOutcome read_update_result(const std::wstring& result_path, const UpdaterRun& run) {
    UpdateOutcome outcome;
    std::ifstream in(result_path.c_str(), std::ios::binary);  // MinGW and MSVC take a wide path here
    if (!in) {
        if (updater_run_state(run) == RunState::running) outcome.status = UpdateStatus::running;
        return outcome;  // aborted, unless still running
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto status = json::member(text, "status", true);
    const auto code = json::member(text, "exitCode", false);
    const auto message = json::member(text, "message", true);
    const auto version = json::member(text, "expectedVersion", true);
    outcome.status = UpdateStatus::unreadable;
    if (!status || !code || !message || !version) return outcome;
    try {
        outcome.exit_code = std::stoll(*code);
    } catch (...) {
        return outcome;
    }
    outcome.message = *message;
    outcome.expected_version = *version;
    const std::pair<std::string_view, UpdateStatus> words[] = {
        {"success", UpdateStatus::success},
        {"restartRequired", UpdateStatus::restart_required},
        {"restartInitiated", UpdateStatus::restart_initiated},
        {"versionConflict", UpdateStatus::version_conflict},
        {"installVerificationFailed", UpdateStatus::install_verification_failed},
        {"error", UpdateStatus::error},
    };
    for (const auto& [word, value] : words) {
        if (*status == word) outcome.status = value;
    }
    return outcome;
}

const char* status_name(UpdateStatus status) {
    switch (status) {
        case UpdateStatus::success: return "success";
        case UpdateStatus::restart_required: return "restartRequired";
        case UpdateStatus::restart_initiated: return "restartInitiated";
        case UpdateStatus::version_conflict: return "versionConflict";
        case UpdateStatus::install_verification_failed: return "installVerificationFailed";
        case UpdateStatus::error: return "error";
        case UpdateStatus::aborted: return "aborted";
        case UpdateStatus::unreadable: return "unreadable";
        case UpdateStatus::running: return "running";
    }
    return "unreadable";
}

}  // namespace velmarch_example

namespace {

using namespace velmarch_example;

void print_utf8(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// Arguments that the C runtime's rules treat specially.
bool quoting_round_trips() {
    const std::vector<std::wstring> words = {
        L"plain",
        L"",
        L"with blank",
        L"with\ttab",
        L"C:\\Program Files\\Velmarch\\",
        L"C:\\trailing\\",
        L"say \"hi\"",
        L"back\\\"quote",
        L"two\\\\\"quotes\\\\",
        L"\\\\server\\share\\update.msi",
        L"Ünïcødé ✓ ελληνικά",
        L"--expected-version",
    };
    // A program name first: CommandLineToArgvW reads the first word by other rules.
    const std::wstring line = L"updater.exe " + compose_parameters(words);
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(line.c_str(), &count);
    bool same = split != nullptr && count == static_cast<int>(words.size()) + 1;
    for (std::size_t i = 0; same && i < words.size(); ++i) same = words[i] == split[i + 1];
    if (split != nullptr) LocalFree(split);
    std::printf("%s: %zu awkward arguments composed and split again\n", same ? "OK" : "FAILED", words.size());
    return same;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::vector<std::wstring> arguments(argv + 1, argv + argc);
    if (arguments.size() >= 2 && arguments[0] == L"start") {
        const Started started =
            start_updater_elevated(arguments[1], std::vector<std::wstring>(arguments.begin() + 2, arguments.end()));
        switch (started.outcome) {
            case StartOutcome::started:
                std::printf("started %lu %llu\n", started.run.process_id, started.run.start_time);
                return 0;
            case StartOutcome::declined: std::printf("declined\n"); return 1;
            case StartOutcome::failed: std::fprintf(stderr, "not started (error %lu)\n", started.error); return 2;
        }
    }
    if ((arguments.size() == 2 || arguments.size() == 4) && arguments[0] == L"read-result") {
        UpdaterRun run;
        if (arguments.size() == 4) {
            run.process_id = static_cast<DWORD>(std::wcstoul(arguments[2].c_str(), nullptr, 10));
            run.start_time = std::wcstoull(arguments[3].c_str(), nullptr, 10);
        }
        const UpdateOutcome outcome = read_update_result(arguments[1], run);
        std::printf("%s\n", status_name(outcome.status));
        if (outcome.status != UpdateStatus::aborted && outcome.status != UpdateStatus::unreadable &&
            outcome.status != UpdateStatus::running) {
            std::printf("%lld\n", outcome.exit_code);
            print_utf8(outcome.message);
            std::printf("\n");
        }
        return 0;
    }
    if (arguments.size() == 1 && arguments[0] == L"check-quoting") return quoting_round_trips() ? 0 : 1;
    std::fputs(
        "usage: launch-updater start UPDATER.exe OPTION VALUE ... | read-result RESULT.json [PROCESS-ID START-TIME] "
        "| check-quoting\n",
        stderr);
    return 2;
}
