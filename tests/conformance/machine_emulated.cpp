// The conformance program on the host: the emulated machine set up as
// tests/wine/conformance.sh sets Wine up, and looked at through the control surface.
#include <thread>
#include <vector>

#include "platform/emulation/emulation.h"
#include "tests/conformance/conformance.h"

namespace conformance {

bool PrepareMachine() {
    const emu::String vendor = u"{BF82486A-80F7-4733-B82C-066BD8F2534B}";
    emu::SetFirmwareVariable(u"CALIBRATE", vendor, {0xE8, 0x03, 0x2C, 0x01});
    emu::SetFirmwareVariable(u"ALS_FLAG", vendor, {0x00});

    emu::AddDevice(std::vector<emu::String>{u"ROOT\\NOXELPROBE&DEV_0001", u"*NOXELPROBE"});
    emu::AddDeviceWithoutHardwareId();
    emu::AddDevice(std::vector<emu::String>{u"acpi\\ven_noxl&dev_6120"});
    emu::AddDevice(std::vector<emu::String>{u"ACPI\\VEN_NOXL&DEV_6100", u"ACPI\\VEN_NOXL&DEV_6120"});

    emu::SetModuleFileName(u"C:\\noxel-conformance\\conformance.exe");
    return true;
}

std::string StoredValue(const WCHAR* keyPath, const WCHAR* valueName) {
    const auto value = emu::GetValue(keyPath, valueName);
    if (!value) return "missing";
    return "type " + Number(value->type) + " size " + Number(static_cast<unsigned long>(value->data.size())) +
           " bytes " + HexBytes(value->data.data(), value->data.size());
}

std::set<std::string> TokenPrivilegeNames() {
    std::set<std::string> names;
    for (const emu::String& name : emu::TokenPrivileges()) names.insert(emu::Narrow(name));
    return names;
}

// The started process is this one's thread; the token it leaves is the service's.
BOOL StartScratchService(SC_HANDLE service) {
    if (!StartServiceW(service, 0, nullptr)) return FALSE;
    emu::SetStartedByServiceManager(true);
    std::thread([] {
        const emu::ProcessThread counted;
        ServiceMode();
    }).join();
    emu::SetStartedByServiceManager(false);
    return TRUE;
}

std::string ScratchFileText() {
    const emu::Bytes bytes = emu::FileExists(scratchFile) ? emu::FileBytes(scratchFile) : emu::Bytes{};
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace conformance

int main(int argc, char* argv[]) { return conformance::Run({argv + 1, argv + argc}); }
