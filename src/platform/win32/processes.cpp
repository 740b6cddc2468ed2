// Other processes: waiting for one, starting one.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <memory>
#include <vector>

#include "platform/win32/os_error.h"
#include "platform/win32/platform.h"

namespace velmarch::platform::win32 {
namespace {

class Win32WaitableProcess final : public WaitableProcess {
public:
    explicit Win32WaitableProcess(UniqueHandle handle) : handle_(std::move(handle)) {}

    WaitOutcome wait(std::uint32_t milliseconds) override {
        switch (::WaitForSingleObject(handle_.get(), milliseconds)) {
            case WAIT_OBJECT_0: return WaitOutcome::exited;
            case WAIT_TIMEOUT: return WaitOutcome::timed_out;
            default: return WaitOutcome::failed;
        }
    }

private:
    UniqueHandle handle_;
};

struct StartedProcess {
    UniqueHandle process;
    UniqueHandle thread;
};

// The updater's standard handles that a child may inherit: each one that is
// set and inheritable, once (output and error are often one handle).
std::vector<HANDLE> inheritable_standard_handles() {
    std::vector<HANDLE> handles;
    for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE handle = ::GetStdHandle(which);
        DWORD flags = 0;
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE) continue;
        if (!::GetHandleInformation(handle, &flags) || (flags & HANDLE_FLAG_INHERIT) == 0) continue;
        if (std::find(handles.begin(), handles.end(), handle) == handles.end()) handles.push_back(handle);
    }
    return handles;
}

HANDLE listed_or_none(const std::vector<HANDLE>& listed, HANDLE handle) {
    return std::find(listed.begin(), listed.end(), handle) != listed.end() ? handle : nullptr;
}

// A process-creation attribute list that names the only handles a child
// inherits. It keeps the list's memory and the handle array, which the list
// points into, until process creation has read them.
class InheritedHandleList {
public:
    explicit InheritedHandleList(std::vector<HANDLE> handles) : handles_(std::move(handles)) {}
    InheritedHandleList(const InheritedHandleList&) = delete;
    InheritedHandleList& operator=(const InheritedHandleList&) = delete;
    InheritedHandleList(InheritedHandleList&&) = delete;
    InheritedHandleList& operator=(InheritedHandleList&&) = delete;
    ~InheritedHandleList() {
        if (initialised_) ::DeleteProcThreadAttributeList(list());
    }

    [[nodiscard]] Result<void> initialise() {
        SIZE_T size = 0;
        // Asks for the size only: fails with ERROR_INSUFFICIENT_BUFFER.
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        if (size == 0) return fail(ErrorKind::os_error, last_os_error_text());
        memory_ = std::make_unique<std::byte[]>(size);
        if (!::InitializeProcThreadAttributeList(list(), 1, 0, &size))
            return fail(ErrorKind::os_error, last_os_error_text());
        initialised_ = true;
        // The attribute's value is the array of handles itself.
        void* const value = static_cast<void*>(handles_.data());
        if (!::UpdateProcThreadAttribute(list(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, value,
                                         handles_.size() * sizeof(HANDLE), nullptr, nullptr))
            return fail(ErrorKind::os_error, last_os_error_text());
        return {};
    }

    LPPROC_THREAD_ATTRIBUTE_LIST list() const { return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(memory_.get()); }

private:
    std::vector<HANDLE> handles_;
    std::unique_ptr<std::byte[]> memory_;
    bool initialised_ = false;
};

// The child inherits the updater's environment and its standard handles,
// and no other handle: with inheritance on, process creation would hand it
// every inheritable handle the updater holds (some of which the updater's
// own starter may have passed down), so the handles are listed.
[[nodiscard]] Result<StartedProcess> create_process(const LaunchRequest& launch) {
    // CreateProcessW may write into the command line buffer.
    std::wstring command_line(launch.command_line.begin(), launch.command_line.end());
    const wchar_t* working_directory = launch.working_directory ? launch.working_directory->c_str() : nullptr;
    const std::vector<HANDLE> inherited = inheritable_standard_handles();
    const bool inherits = !inherited.empty();
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = inherits ? sizeof startup : sizeof startup.StartupInfo;
    DWORD flags = CREATE_UNICODE_ENVIRONMENT;
    // Without a handle to pass on, inheritance is simply off.
    InheritedHandleList handle_list(inherited);
    if (inherits) {
        if (Result<void> listed = handle_list.initialise(); !listed) return std::unexpected(listed.error());
        flags |= EXTENDED_STARTUPINFO_PRESENT;
        startup.lpAttributeList = handle_list.list();
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = listed_or_none(inherited, ::GetStdHandle(STD_INPUT_HANDLE));
        startup.StartupInfo.hStdOutput = listed_or_none(inherited, ::GetStdHandle(STD_OUTPUT_HANDLE));
        startup.StartupInfo.hStdError = listed_or_none(inherited, ::GetStdHandle(STD_ERROR_HANDLE));
    }
    PROCESS_INFORMATION information{};
    if (!::CreateProcessW(launch.application.c_str(), command_line.data(), nullptr, nullptr, inherits ? TRUE : FALSE,
                          flags, nullptr, working_directory, &startup.StartupInfo, &information)) {
        return fail(ErrorKind::os_error, last_os_error_text());
    }
    return StartedProcess{UniqueHandle(information.hProcess), UniqueHandle(information.hThread)};
}

}  // namespace

Result<void> Win32Platform::check_launch(const LaunchRequest& launch) const {
    if (Result<void> checked = check_links(launch.application); !checked) return checked;
    if (launch.working_directory) {
        if (Result<void> checked = check_links(*launch.working_directory); !checked) return checked;
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
        return fail(ErrorKind::os_error, last_os_error_text());
    }
    DWORD exit_code = 0;
    if (!::GetExitCodeProcess(child->process.get(), &exit_code)) return fail(ErrorKind::os_error, last_os_error_text());
    return std::bit_cast<std::int32_t>(exit_code);
}

Result<std::uint32_t> Win32Platform::start_detached(const LaunchRequest& launch) {
    if (Result<void> checked = check_launch(launch); !checked) return std::unexpected(checked.error());
    Result<StartedProcess> child = create_process(launch);
    if (!child) return std::unexpected(child.error());
    const DWORD process_id = ::GetProcessId(child->process.get());
    if (process_id == 0) return fail(ErrorKind::os_error, last_os_error_text());
    return process_id;
}

}  // namespace velmarch::platform::win32
