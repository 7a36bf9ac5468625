// Files under a host directory, with Windows' create and share rules.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/emulation/state.h"
#include "platform/files.h"

using namespace emu;
using namespace emu::detail;

namespace {

// Drive-absolute paths only; the file system is case-insensitive, so names are kept
// in lower case.
std::optional<std::string> MapPath(const State& s, const String& windowsPath) {
    if (windowsPath.size() < 3 || windowsPath[1] != u':' || windowsPath[2] != u'\\') return std::nullopt;
    std::string mapped = s.fileRoot + "/";
    for (char16_t c : windowsPath) {
        if (c == u':') continue;
        if (c == u'\\') c = u'/';
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        mapped += emu::Narrow(std::u16string(1, c));
    }
    return mapped;
}

bool Exists(const std::string& hostPath) {
    struct stat info {};
    return ::stat(hostPath.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Whether the directory that would hold `hostPath` exists: a missing file in a missing
// directory is ERROR_PATH_NOT_FOUND on Windows, not ERROR_FILE_NOT_FOUND.
bool DirectoryExists(const std::string& hostPath) {
    return std::filesystem::is_directory(std::filesystem::path(hostPath).parent_path());
}

// Whether a new open with `access` and `share` conflicts with the opens there are.
bool SharingConflict(const State& s, const std::string& hostPath, DWORD access, DWORD share) {
    for (const auto& [handle, open] : s.files) {
        if (open.hostPath != hostPath) continue;
        if ((access & GENERIC_READ) && !(open.share & FILE_SHARE_READ)) return true;
        if ((access & GENERIC_WRITE) && !(open.share & FILE_SHARE_WRITE)) return true;
        if ((open.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return true;
        if ((open.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return true;
    }
    return false;
}

}  // namespace

HANDLE WINAPI FindFirstFileW(LPCWSTR path, LPWIN32_FIND_DATAW data) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    const String name = ToString(path);
    if (auto error = Fault(s, Operation::FindFirstFileW, {name}))
        return FailWith(*error, INVALID_HANDLE_VALUE);
    // Wildcards are not emulated: the path names one file.
    auto hostPath = MapPath(s, name);
    if (!hostPath || !Exists(*hostPath))
        return FailWith(hostPath && DirectoryExists(*hostPath) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND,
                        INVALID_HANDLE_VALUE);
    *data = WIN32_FIND_DATAW{};
    data->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    const String leaf = name.substr(name.find_last_of(u'\\') + 1);
    leaf.copy(data->cFileName, std::min<size_t>(leaf.size(), MAX_PATH - 1));
    auto handle = const_cast<void*>(NewHandle(s, "find"));
    s.finds[handle] = *hostPath;
    return handle;
}

BOOL WINAPI FindClose(HANDLE find) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::FindClose)) return FailWith(*error, FALSE);
    if (!s.finds.erase(find)) return FailWith(ERROR_INVALID_HANDLE, FALSE);
    ReleaseHandle(s, find, "find");
    return TRUE;
}

HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD attributes, HANDLE templateFile) {
    (void)security, (void)attributes, (void)templateFile;
    State& s = Machine();
    std::lock_guard guard(s.lock);
    const String name = ToString(path);
    if (auto error = Fault(s, Operation::CreateFileW, {name})) return FailWith(*error, INVALID_HANDLE_VALUE);
    auto hostPath = MapPath(s, name);
    if (!hostPath || !std::filesystem::is_directory(std::filesystem::path(*hostPath).parent_path()))
        return FailWith(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    const bool exists = Exists(*hostPath);
    int flags = 0;
    switch (disposition) {
        case CREATE_NEW:
            if (exists) return FailWith(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
            flags = O_CREAT | O_EXCL;
            break;
        case OPEN_EXISTING:
            if (!exists) return FailWith(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
            break;
        default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    if (exists && SharingConflict(s, *hostPath, access, share))
        return FailWith(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
    const int fd = ::open(hostPath->c_str(), flags | O_RDWR | O_CLOEXEC, 0644);
    if (fd < 0) return FailWith(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    auto handle = const_cast<void*>(NewHandle(s, "file"));
    s.files[handle] = {fd, *hostPath, access, share};
    SetLastError(ERROR_SUCCESS);
    return handle;
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::SetFilePointer)) return FailWith(*error, INVALID_SET_FILE_POINTER);
    auto it = s.files.find(file);
    if (it == s.files.end()) return FailWith(ERROR_INVALID_HANDLE, INVALID_SET_FILE_POINTER);
    int64_t offset = distance;
    if (distanceHigh) offset = (static_cast<int64_t>(*distanceHigh) << 32) | static_cast<uint32_t>(distance);
    const int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    const off_t position = ::lseek(it->second.fd, offset, whence);
    if (position < 0) return FailWith(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
    if (distanceHigh) *distanceHigh = static_cast<LONG>(position >> 32);
    return static_cast<DWORD>(position);
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID data, DWORD bytes, LPDWORD written, LPOVERLAPPED overlapped) {
    (void)overlapped;
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (written) *written = 0;
    if (auto error = Fault(s, Operation::WriteFile)) return FailWith(*error, FALSE);
    if (IsStandardOutput(file)) {
        WriteStandardOutput(s, data, bytes);
        if (written) *written = bytes;
        return TRUE;
    }
    auto it = s.files.find(file);
    if (it == s.files.end()) return FailWith(ERROR_INVALID_HANDLE, FALSE);
    if ((it->second.access & GENERIC_WRITE) == 0) return FailWith(ERROR_ACCESS_DENIED, FALSE);
    const ssize_t result = ::write(it->second.fd, data, bytes);
    if (result < 0) return FailWith(ERROR_ACCESS_DENIED, FALSE);
    if (written) *written = static_cast<DWORD>(result);
    return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR path) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    const String name = ToString(path);
    if (auto error = Fault(s, Operation::DeleteFileW, {name})) return FailWith(*error, FALSE);
    auto hostPath = MapPath(s, name);
    if (!hostPath || !Exists(*hostPath))
        return FailWith(hostPath && DirectoryExists(*hostPath) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND,
                        FALSE);
    for (const auto& [handle, open] : s.files) {
        if (open.hostPath == *hostPath && !(open.share & FILE_SHARE_DELETE))
            return FailWith(ERROR_SHARING_VIOLATION, FALSE);
    }
    ::unlink(hostPath->c_str());
    return TRUE;
}

bool emu::detail::CloseFile(State& s, HANDLE handle) {
    auto file = s.files.find(handle);
    if (file == s.files.end()) return false;
    ::close(file->second.fd);
    s.files.erase(file);
    ReleaseHandle(s, handle, "file");
    return true;
}

namespace emu {

std::string HostPath(const String& windowsPath) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    return MapPath(s, windowsPath).value_or("");
}

bool FileExists(const String& windowsPath) {
    const std::string hostPath = HostPath(windowsPath);
    return !hostPath.empty() && Exists(hostPath);
}

Bytes FileBytes(const String& windowsPath) {
    std::ifstream in(HostPath(windowsPath), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const String& windowsPath, const Bytes& data) {
    const std::string hostPath = HostPath(windowsPath);
    std::filesystem::create_directories(std::filesystem::path(hostPath).parent_path());
    std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

}  // namespace emu
