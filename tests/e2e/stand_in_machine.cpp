#include "e2e/stand_in_machine.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

#include "support/machine_layout.h"
#include "support/test_signing.h"

extern char** environ;

namespace velmarch::e2e {
namespace {

using namespace std::chrono_literals;

// The protected temporary directory's modification time before a run.
constexpr std::time_t kOldTime = 1'000'000'000;

// The updater's clock. time() may read the coarse clock, which lags a tick
// behind at a second's turn.
std::uint64_t now_seconds() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::uint64_t>(now.tv_sec);
}

std::string shell_quote(std::string_view text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

// Package bytes that need several reads of the staging copy.
std::string default_package_content() {
    std::string content = "Velmarch 2.4.0 test package\n";
    std::uint32_t state = 0x12345678;
    while (content.size() < 20'000) {
        state = state * 1'664'525u + 1'013'904'223u;
        content += static_cast<char>(state >> 24);
    }
    return content;
}

// The installer checks the bytes it was given and what holds the staged file.
constexpr std::string_view kInstallerFacts = R"sh(staged=
log=
previous=
for argument in "$@"; do
  if [ "$previous" = /i ]; then staged=$argument; fi
  if [ "$previous" = '/L*v' ]; then log=$argument; fi
  previous=$argument
done
printf 'log:%s\n' "$log"
if [ -n "$staged" ] && [ "$(sha256sum < "$staged" | cut -d ' ' -f 1)" = "$(cat "$records/expected.sha256")" ]; then
  echo 'digest:match'
else
  echo 'digest:mismatch'
fi
printf 'staging-mode:%s\n' "$(stat -c %a "$(dirname "$staged")")"
printf 'staged-mode:%s\n' "$(stat -c %a "$staged")"
if [ -r "$records/watched.pid" ]; then
  watched=$(cat "$records/watched.pid")
  if [ -r "/proc/$watched/stat" ]; then
    printf 'watched:%s\n' "$(sed 's/^.*) \(.\).*$/\1/' "/proc/$watched/stat")"
  else
    echo 'watched:gone'
  fi
fi
)sh";

// Like Windows Installer, the stand-in opens its log by name a moment after it
// has started, and writes it as UTF-16. With records/msiexec.hold present it
// first says so in records/msiexec.running and waits (up to 10 s) for
// records/msiexec.go, so that a test can act while it runs.
constexpr std::string_view kInstallerWritesItsLog = R"sh(if [ -e "$records/msiexec.hold" ]; then
  : > "$records/msiexec.running"
  waited=0
  while [ ! -e "$records/msiexec.go" ] && [ "$waited" -lt 200 ]; do sleep 0.05; waited=$((waited + 1)); done
fi
if [ -n "$log" ]; then printf '%b' "$(cat "$records/installer-log.octal")" > "$log"; fi
)sh";

// Exits with the code in records/<name>.exit, or kills itself for "signal:N".
std::string exit_as_told(std::string_view name) {
    return "code=$(cat \"$records/" + std::string(name) + R"sh(.exit" 2>/dev/null)
case "$code" in
  '') exit 0 ;;
  signal:*) kill -"${code#signal:}" $$ ;;
  *) exit "$code" ;;
esac
)sh";
}

std::vector<char*> pointers_to(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Owns posix_spawn's file actions.
class SpawnActions {
public:
    SpawnActions() { ::posix_spawn_file_actions_init(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
    void open(int fd, const fs::path& path, int flags) {
        ::posix_spawn_file_actions_addopen(&actions_, fd, path.c_str(), flags, 0644);
    }
    void change_directory(const fs::path& path) { ::posix_spawn_file_actions_addchdir_np(&actions_, path.c_str()); }
    const posix_spawn_file_actions_t* get() const { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

pid_t spawn(const fs::path& program, std::vector<std::string> argv, std::vector<std::string> envp,
            const SpawnActions& actions) {
    std::vector<char*> argv_pointers = pointers_to(argv);
    std::vector<char*> envp_pointers = pointers_to(envp);
    pid_t pid = -1;
    const int error =
        ::posix_spawn(&pid, program.c_str(), actions.get(), nullptr, argv_pointers.data(), envp_pointers.data());
    if (error != 0) {
        ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(error);
        return -1;
    }
    return pid;
}

std::vector<std::string> current_environment() {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) entries.emplace_back(*entry);
    return entries;
}

}  // namespace

// --- processes -------------------------------------------------------------

RunningUpdater::RunningUpdater(pid_t process_id, fs::path output_directory, std::uint64_t started_at)
    : process_id_(process_id), output_directory_(std::move(output_directory)), started_at_(started_at) {}

RunningUpdater::RunningUpdater(RunningUpdater&& other) noexcept
    : process_id_(other.process_id_),
      output_directory_(std::move(other.output_directory_)),
      started_at_(other.started_at_) {
    other.process_id_ = -1;
}

RunningUpdater::~RunningUpdater() {
    if (process_id_ <= 0) return;
    ::kill(process_id_, SIGKILL);
    int status = 0;
    ::waitpid(process_id_, &status, 0);
}

UpdaterRun RunningUpdater::wait() {
    UpdaterRun run;
    run.process_id = process_id_;
    run.started_at = started_at_;
    if (process_id_ <= 0) return run;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(process_id_, &status, WNOHANG);
        if (done == process_id_) break;
        if (done < 0 && errno != EINTR) {
            ADD_FAILURE() << "waitpid failed: " << std::strerror(errno);
            process_id_ = -1;
            return run;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "the updater did not end within 30 s";
            return run;  // the destructor kills it
        }
        std::this_thread::sleep_for(2ms);
    }
    process_id_ = -1;
    run.ended_at = now_seconds();
    if (WIFEXITED(status))
        run.exit_status = WEXITSTATUS(status);
    else
        ADD_FAILURE() << "the updater was ended by signal " << WTERMSIG(status);
    run.standard_output = read_text(output_directory_ / "stdout").value_or("");
    run.standard_error = read_text(output_directory_ / "stderr").value_or("");
    return run;
}

OwnedChild::OwnedChild(std::vector<std::string> command) {
    SpawnActions actions;
    const fs::path program = command.front();
    process_id_ = spawn(program, std::move(command), current_environment(), actions);
}

OwnedChild::~OwnedChild() {
    if (process_id_ <= 0) return;
    ::kill(process_id_, SIGKILL);
    int status = 0;
    ::waitpid(process_id_, &status, 0);
}

std::uint32_t unused_process_id() {
    // Ids run below pid_max, so pid_max itself never names a process.
    const std::string pid_max = read_text(fs::path("/proc/sys/kernel/pid_max")).value_or("4194304");
    return static_cast<std::uint32_t>(std::stoul(pid_max));
}

// --- files -------------------------------------------------------------------

std::optional<std::string> read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void write_text(const fs::path& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) ADD_FAILURE() << "cannot write " << path;
}

::testing::AssertionResult holds(const fs::path& path, std::string_view content) {
    const std::optional<std::string> actual = read_text(path);
    if (!actual) return ::testing::AssertionFailure() << path << " does not exist";
    if (*actual != content)
        return ::testing::AssertionFailure()
               << path << " holds " << actual->size() << " other bytes instead of " << content.size();
    return ::testing::AssertionSuccess();
}

std::string expected_result(std::string_view status, std::int32_t exit_code, std::string_view message,
                            std::string_view version) {
    return "{\"status\":\"" + std::string(status) + "\",\"exitCode\":" + std::to_string(exit_code) + ",\"message\":\"" +
           std::string(message) + "\",\"expectedVersion\":\"" + std::string(version) + "\"}";
}

std::string restart_line(const fs::path& shell, std::uint32_t process_id) {
    return "Application restart requested through " + shell.string() + " with process id " +
           std::to_string(process_id) + ".";
}

// --- the machine -------------------------------------------------------------

StandInMachine::StandInMachine(std::string_view decoration) {
    // The stand-ins report physical working directories.
    root_ = fs::canonical(folder_.path());
    const testing::MachineLayout machine(testing::to_path(root_), decoration);
    system_root_ = testing::fs_path(machine.windows);
    records_ = root_ / "records";
    for (const platform::Path& directory : {machine.temp, machine.system32, machine.install_dir, machine.downloads,
                                            machine.logs, testing::to_path(records_), testing::to_path(root_ / "runs")})
        fs::create_directories(testing::fs_path(directory));

    write_stand_in(installer_path(), "msiexec", exit_as_told("msiexec"));
    // The log's bytes as printf's %b reads them back: every byte in octal.
    std::string octal;
    for (const char c : kStandInInstallerLog) {
        const auto byte = static_cast<unsigned char>(c);
        octal += "\\0";
        octal += static_cast<char>('0' + (byte >> 6));
        octal += static_cast<char>('0' + ((byte >> 3) & 7));
        octal += static_cast<char>('0' + (byte & 7));
    }
    write_text(records_ / "installer-log.octal", octal);
    write_stand_in(shell_path(), "explorer");
    write_stand_in(testing::fs_path(machine.application), "application", exit_as_told("application"));

    request.parent_process_id = unused_process_id();
    request.msi_path = machine.package;
    request.install_dir = machine.install_dir;
    request.app_path = machine.application;
    request.msi_log_path = machine.installer_log;
    request.helper_log_path = machine.helper_log;
    request.result_path = machine.result;
    write_package(default_package_content());

    environment["SystemRoot"] = system_root_.string();
    environment["PATH"] = "/usr/bin:/bin";
    for (const char* name_to_pass : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (const char* value = std::getenv(name_to_pass)) environment[name_to_pass] = value;
    }

    const timespec times[2] = {{kOldTime, 0}, {kOldTime, 0}};
    if (::utimensat(AT_FDCWD, temp_directory().c_str(), times, 0) != 0) ADD_FAILURE() << "utimensat failed";
}

void StandInMachine::write_package(std::string_view content, std::string_view version) {
    std::string bytes(content);  // `content` may view the package being replaced
    package_content_ = std::move(bytes);
    write_text(request.msi_path, package_content_);
    testing::sign_request(request, package_content_, version);
    write_text(records_ / "expected.sha256", request.expected_sha256);
}

void StandInMachine::set_installer_exit_code(int code) { write_text(records_ / "msiexec.exit", std::to_string(code)); }

void StandInMachine::kill_installer_with_signal(int signal) {
    write_text(records_ / "msiexec.exit", "signal:" + std::to_string(signal));
}

void StandInMachine::set_application_exit_code(int code) {
    write_text(records_ / "application.exit", std::to_string(code));
}

void StandInMachine::watch_process(pid_t process_id) {
    write_text(records_ / "watched.pid", std::to_string(process_id));
}

void StandInMachine::hold_installer() { write_text(records_ / "msiexec.hold", ""); }

bool StandInMachine::wait_until_installer_holds() const {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!fs::exists(records_ / "msiexec.running")) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

void StandInMachine::release_installer() { write_text(records_ / "msiexec.go", ""); }

void StandInMachine::write_stand_in(const fs::path& path, std::string_view name, std::string_view tail) const {
    std::string script = "#!/bin/sh\nPATH=/usr/bin:/bin\nrecords=" + shell_quote(records_.string()) + "\n";
    script += "{\n";
    script += "printf 'pid:%s\\n' \"$$\"\n";
    script += "printf 'pwd:%s\\n' \"$(pwd -P)\"\n";
    script += "for argument in \"$@\"; do printf 'arg:%s\\n' \"$argument\"; done\n";
    if (name == "msiexec") script += kInstallerFacts;
    script += "echo end\n";
    script += "} >> \"$records/" + std::string(name) + ".record\" 2>> \"$records/" + std::string(name) + ".errors\"\n";
    if (name == "msiexec") script += kInstallerWritesItsLog;
    script += tail;
    script += "\n";
    write_text(path, script);
    fs::permissions(path, fs::perms(0755));
}

std::vector<std::string> StandInMachine::arguments() const {
    std::vector<std::string> arguments{
        "--parent-process-id",
        std::to_string(request.parent_process_id),
        "--msi-path",
        request.msi_path.native(),
        "--install-dir",
        request.install_dir.native(),
        "--app-path",
        request.app_path.native(),
        "--msi-log-path",
        request.msi_log_path.native(),
        "--helper-log-path",
        request.helper_log_path.native(),
        "--result-path",
        request.result_path.native(),
        "--expected-sha256",
        request.expected_sha256,
        "--expected-version",
        request.expected_version,
        "--signature",
        request.signature,
        "--key-id",
        request.key_id,
        "--signature-algorithm",
        request.signature_algorithm,
    };
    if (request.repair_mode) {
        arguments.push_back("--repair-mode");
        arguments.push_back("true");
    }
    return arguments;
}

RunningUpdater StandInMachine::start(const std::vector<std::string>& arguments) const {
    static int runs = 0;
    const fs::path output = root_ / "runs" / std::to_string(++runs);
    fs::create_directories(output);

    SpawnActions actions;
    actions.open(STDIN_FILENO, "/dev/null", O_RDONLY);
    actions.open(STDOUT_FILENO, output / "stdout", O_WRONLY | O_CREAT | O_TRUNC);
    actions.open(STDERR_FILENO, output / "stderr", O_WRONLY | O_CREAT | O_TRUNC);
    if (working_directory) actions.change_directory(*working_directory);

    std::vector<std::string> argv{VELMARCH_UPDATER_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> envp;
    for (const auto& [name, value] : environment) envp.push_back(name + "=" + value);

    const std::uint64_t started_at = now_seconds();
    const pid_t pid = spawn(VELMARCH_UPDATER_PATH, std::move(argv), std::move(envp), actions);
    return RunningUpdater(pid, output, started_at);
}

UpdaterRun StandInMachine::run(const std::vector<std::string>& arguments) const { return start(arguments).wait(); }

std::vector<Invocation> StandInMachine::invocations(std::string_view name) const {
    std::vector<Invocation> found;
    const std::optional<std::string> record = read_text(records_ / (std::string(name) + ".record"));
    if (!record) return found;
    std::istringstream lines(*record);
    Invocation current;
    for (std::string line; std::getline(lines, line);) {
        if (line == "end") {
            found.push_back(std::move(current));
            current = Invocation{};
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string key = line.substr(0, colon);
        std::string value = line.substr(colon + 1);
        if (key == "pid")
            current.process_id = static_cast<std::uint32_t>(std::stoul(value));
        else if (key == "pwd")
            current.working_directory = std::move(value);
        else if (key == "arg")
            current.arguments.push_back(std::move(value));
        else
            current.facts[key] = std::move(value);
    }
    return found;
}

std::optional<Invocation> StandInMachine::wait_for_restart() const {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        std::vector<Invocation> started = invocations("explorer");
        if (!started.empty()) return started.front();
        std::this_thread::sleep_for(2ms);
    }
    return std::nullopt;
}

std::vector<std::string> StandInMachine::helper_log_messages(const UpdaterRun& run) const {
    std::vector<std::string> messages;
    const std::optional<std::string> log = read_text(request.helper_log_path);
    if (!log) {
        ADD_FAILURE() << "no helper log at " << request.helper_log_path;
        return messages;
    }
    if (!log->empty() && log->back() != '\n') ADD_FAILURE() << "the helper log does not end with a line feed";
    std::istringstream lines(*log);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t close = line.find("] ");
        const std::string seconds = close == std::string::npos ? "" : line.substr(1, close - 1);
        const bool well_formed = line.starts_with('[') && !seconds.empty() &&
                                 seconds.find_first_not_of("0123456789") == std::string::npos &&
                                 (seconds == "0" || seconds.front() != '0');
        if (!well_formed) {
            ADD_FAILURE() << "malformed helper log line: " << line;
            continue;
        }
        const std::uint64_t stamp = std::stoull(seconds);
        EXPECT_GE(stamp, run.started_at) << line;
        EXPECT_LE(stamp, run.ended_at) << line;
        messages.push_back(line.substr(close + 2));
    }
    return messages;
}

std::vector<fs::path> StandInMachine::temp_entries() const {
    std::vector<fs::path> entries;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(temp_directory(), error)) entries.push_back(entry.path());
    return entries;
}

bool StandInMachine::temp_directory_untouched() const {
    struct stat status {};
    if (::stat(temp_directory().c_str(), &status) != 0) return false;
    return status.st_mtim.tv_sec == kOldTime && status.st_mtim.tv_nsec == 0;
}

// --- fixture -------------------------------------------------------------------

void StandInTest::TearDown() {
    for (const Invocation& installer : machine.invocations("msiexec")) {
        const auto digest = installer.facts.find("digest");
        EXPECT_TRUE(digest != installer.facts.end() && digest->second == "match")
            << "the installer was given other bytes than the signed package";
    }
    if (fs::is_directory(machine.temp_directory())) {
        EXPECT_TRUE(machine.temp_entries().empty()) << "a staging directory outlived the run";
    }
}

void ElevatedStandInTest::SetUp() {
    if (::geteuid() != 0) GTEST_SKIP() << "an elevated run is played by root; this test runs as uid " << ::geteuid();
    protected_dir = machine.root() / "Protected";
    fs::create_directories(protected_dir);
    fs::permissions(protected_dir, fs::perms(0755));
}

}  // namespace velmarch::e2e
