// Other processes: waiting for one, starting one.
#include <bit>

#include "platform/win32/os_error.h"
#include "platform/win32/platform.h"
#include "platform/win32/regular_file.h"

namespace velmarch::platform::win32 {
namespace {

class Win32WaitableProcess final : public WaitableProcess {
public:
    explicit Win32WaitableProcess(UniqueHandle handle) : handle_(std::move(handle)) {}

    WaitOutcome wait(std::uint32_t milliseconds) override {
        switch (::WaitForSingleObject(handle_.get(), milliseconds)) {
            case WAIT_OBJECT_0:
                return WaitOutcome::exited;
            case WAIT_TIMEOUT:
                return WaitOutcome::timed_out;
            default:
                return WaitOutcome::failed;
        }
    }

private:
    UniqueHandle handle_;
};

struct StartedProcess {
    UniqueHandle process;
    UniqueHandle thread;
};

// The child inherits the updater's environment, inheritable handles and
// standard streams; nothing is redirected.
[[nodiscard]] Result<StartedProcess> create_process(const LaunchRequest& launch) {
    // CreateProcessW may write into the command line buffer.
    std::wstring command_line(launch.command_line.begin(), launch.command_line.end());
    const wchar_t* working_directory =
        launch.working_directory ? launch.working_directory->c_str() : nullptr;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION information{};
    if (!::CreateProcessW(launch.application.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                          CREATE_UNICODE_ENVIRONMENT, nullptr, working_directory, &startup, &information)) {
        return std::unexpected(last_os_error_text());
    }
    return StartedProcess{UniqueHandle(information.hProcess), UniqueHandle(information.hThread)};
}

}  // namespace

Result<void> Win32Platform::check_launch(const LaunchRequest& launch) const {
    if (Result<void> checked = check_links(launch.application); !checked) return checked;
    if (launch.working_directory) {
        if (Result<void> checked = check_links(*launch.working_directory); !checked) return checked;
    }
    // The child opens this file itself, with no such check of its own; a pipe
    // or device there would hold it, and the run waiting for it, for ever.
    if (launch.child_output) {
        if (Result<void> checked = check_links(*launch.child_output); !checked) return checked;
        if (Result<void> kind = refuse_special_file(*launch.child_output); !kind) return kind;
    }
    return {};
}

std::unique_ptr<WaitableProcess> Win32Platform::open_process_for_wait(std::uint32_t process_id) {
    UniqueHandle handle(::OpenProcess(SYNCHRONIZE, FALSE, process_id));
    if (!handle) return nullptr;
    return std::make_unique<Win32WaitableProcess>(std::move(handle));
}

Result<std::int32_t> Win32Platform::run_and_wait(const LaunchRequest& launch) {
    if (Result<void> checked = check_launch(launch); !checked) return std::unexpected(checked.error());
    Result<StartedProcess> child = create_process(launch);
    if (!child) return std::unexpected(child.error());
    if (::WaitForSingleObject(child->process.get(), INFINITE) != WAIT_OBJECT_0) {
        return std::unexpected(last_os_error_text());
    }
    DWORD exit_code = 0;
    if (!::GetExitCodeProcess(child->process.get(), &exit_code)) return std::unexpected(last_os_error_text());
    return std::bit_cast<std::int32_t>(exit_code);
}

Result<std::uint32_t> Win32Platform::start_detached(const LaunchRequest& launch) {
    if (Result<void> checked = check_launch(launch); !checked) return std::unexpected(checked.error());
    Result<StartedProcess> child = create_process(launch);
    if (!child) return std::unexpected(child.error());
    const DWORD process_id = ::GetProcessId(child->process.get());
    if (process_id == 0) return std::unexpected(last_os_error_text());
    return process_id;
}

}  // namespace velmarch::platform::win32
