// Firmware variables behind SeSystemEnvironmentPrivilege, read as the service reads
// them (a buffer of the variable's exact size), and the system's message texts for the
// codes those reads and the other calls fail with. The machine's set-up holds CALIBRATE
// (e8 03 2c 01) and ALS_FLAG (00) under the calibration vendor GUID, and no ALR_CURVE.
#include <iterator>

#include "platform/firmware.h"
#include "tests/conformance/conformance.h"

namespace conformance {

namespace {

const WCHAR* const vendor = TEXT("{BF82486A-80F7-4733-B82C-066BD8F2534B}");
constexpr BYTE untouched = 0xEE;

// The bytes returned, or 0 and the error; the buffer's first eight bytes, pre-filled so
// that a write shows, and whether anything past them changed.
std::string Read(const WCHAR* name, const WCHAR* guid, DWORD size) {
    BYTE buffer[48];
    for (BYTE& b : buffer) b = untouched;
    SetLastError(unsetError);
    const DWORD bytes = GetFirmwareEnvironmentVariableW(name, guid, buffer, size);
    std::string answer = bytes ? Number(bytes) : "0 error " + Number(GetLastError());
    answer += " buffer " + HexBytes(buffer, 8);
    for (size_t i = 8; i < std::size(buffer); ++i)
        if (buffer[i] != untouched) return answer + " and beyond";
    return answer;
}

// Asked as the ALR read failure asks: an allocated buffer, no FORMAT_MESSAGE_IGNORE_INSERTS.
std::string Message(DWORD code) {
    LPWSTR text = nullptr;
    SetLastError(unsetError);
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                                        code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    const UniqueLocalMemory owned(text);
    if (!text) return Number(length) + " error " + Number(GetLastError()) + " without a buffer";
    if (static_cast<DWORD>(lstrlenW(text)) != length)
        return "length " + Number(length) + " for " + Escape(text);
    return Escape(text);
}

}  // namespace

void FirmwareQuestions(Answers& answers) {
    answers.Add("CALIBRATE into 4 bytes before the privilege is enabled", Read(TEXT("CALIBRATE"), vendor, 4));

    // The service's way to the privilege.
    UniqueKernelHandle token;
    TOKEN_PRIVILEGES privileges{1, {{{}, SE_PRIVILEGE_ENABLED}}};
    const auto enabled = [] { return SystemEnvironmentPrivilegeEnabled() ? "yes" : "no"; };
    answers.Add("OpenProcessToken for adjusting and querying", Try([&] {
                    return OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                                            token.put());
                }));
    answers.Add("LookupPrivilegeValueW of SeSystemEnvironmentPrivilege", Try([&] {
                    return LookupPrivilegeValueW(nullptr, TEXT("SeSystemEnvironmentPrivilege"),
                                                 &privileges.Privileges[0].Luid);
                }));
    // It succeeds also when the privilege is not held, and says so in the last error.
    const std::string adjusted =
        Try([&] { return AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr); });
    answers.Add("AdjustTokenPrivileges enabling it", adjusted + " last error " + Number(GetLastError()));
    answers.Add("SeSystemEnvironmentPrivilege enabled after", enabled());
    answers.Add("CloseHandle of the token", Outcome(CloseHandle(token.release())));

    const struct {
        const char* question;
        const WCHAR* name;
        const WCHAR* guid;
        DWORD size;
    } reads[] = {
        {"CALIBRATE into its exact 4 bytes", TEXT("CALIBRATE"), vendor, 4},
        {"CALIBRATE into 40 bytes, as ALR_CURVE is read", TEXT("CALIBRATE"), vendor, 40},
        {"CALIBRATE into 3 bytes", TEXT("CALIBRATE"), vendor, 3},
        {"ALS_FLAG into its exact byte", TEXT("ALS_FLAG"), vendor, 1},
        {"ALR_CURVE, missing, into 40 bytes", TEXT("ALR_CURVE"), vendor, 40},
        // UEFI compares variable names exactly.
        {"calibrate, the name in lower case", TEXT("calibrate"), vendor, 8},
        {"CALIBRATE under the vendor GUID without braces", TEXT("CALIBRATE"),
         TEXT("BF82486A-80F7-4733-B82C-066BD8F2534B"), 8},
        {"CALIBRATE under another vendor GUID", TEXT("CALIBRATE"),
         TEXT("{8BE4DF61-93CA-11D2-AA0D-00E098032B8C}"), 8},
    };
    for (const auto& read : reads) answers.Add(read.question, Read(read.name, read.guid, read.size));
}

void MessageQuestions(Answers& answers) {
    // The codes that the firmware reads, the registry and the service manager fail with.
    const DWORD codes[] = {1,   2,   3,   5,   6,   8,    13,   32,   80,   87,
                           122, 203, 234, 259, 998, 1060, 1063, 1073, 1314, 1722};
    for (DWORD code : codes) answers.Add("FormatMessageW of " + Number(code), Message(code));
    answers.Add("FormatMessageW of a code without a text", Message(0x2000ABCD));
}

}  // namespace conformance
