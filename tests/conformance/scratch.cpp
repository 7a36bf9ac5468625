// What the program makes on the machine it asks, and takes away again: the registry
// keys below SOFTWARE\NoxelConformance, the service NoxelConformance and the file
// noxel-conformance.log in System32. A machine that has any of them already is not
// asked at all, since the program cannot tell them from someone else's; whatever the
// questions answered, the cleanup runs (for the keys, at the registry questions' end)
// and is checked.
#include "tests/conformance/conformance.h"

namespace conformance {

const WCHAR* const scratchKey = TEXT("SOFTWARE\\NoxelConformance");
const WCHAR* const scratchService = TEXT("NoxelConformance");
const WCHAR* const scratchFile = TEXT("C:\\Windows\\System32\\noxel-conformance.log");

std::string ScratchPresent() {
    std::string present;
    // The error of looking for each: ERROR_SUCCESS where it is there.
    const auto add = [&](DWORD error, DWORD absent, const char* what) {
        if (error == absent) return;
        present += (present.empty() ? "" : "; ") + std::string(what);
        if (error != ERROR_SUCCESS) present += " cannot be looked for (error " + Number(error) + ")";
    };
    UniqueKey key;
    add(RegOpenKeyExW(HKEY_LOCAL_MACHINE, scratchKey, 0, KEY_READ, key.put()), ERROR_FILE_NOT_FOUND,
        "the key HKLM\\SOFTWARE\\NoxelConformance");
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle service(manager ? OpenServiceW(manager.get(), scratchService, SERVICE_QUERY_STATUS)
                                        : nullptr);
    add(service ? ERROR_SUCCESS : GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST,
        "the service NoxelConformance");
    WIN32_FIND_DATAW data;
    UniqueFind file(FindFirstFileW(scratchFile, &data));
    add(file ? ERROR_SUCCESS : GetLastError(), ERROR_FILE_NOT_FOUND,
        "the file C:\\Windows\\System32\\noxel-conformance.log");
    return present;
}

void RemoveScratch() {
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle service(OpenServiceW(manager.get(), scratchService, DELETE));
    if (service) DeleteService(service.get());
    DeleteFileW(scratchFile);
}

}  // namespace conformance
