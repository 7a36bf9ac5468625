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
    SetLastError(0xDEADBEEF);
    const DWORD bytes = GetFirmwareEnvironmentVariableW(name, guid, buffer, size);
    std::string answer = bytes ? Number(bytes) : "0 error " + Number(GetLastError());
    answer += " buffer " + HexBytes(buffer, 8);
    for (size_t i = 8; i < std::size(buffer); ++i)
        if (buffer[i] != untouched) return answer + " and beyond";
    return answer;
}

}  // namespace

void FirmwareQuestions(Answers& answers) {
    answers.Add("CALIBRATE into 4 bytes before the privilege is enabled", Read(TEXT("CALIBRATE"), vendor, 4));

    // The service's way to the privilege.
    UniqueKernelHandle token;
    SetLastError(0xDEADBEEF);
    answers.Add(
        "OpenProcessToken for adjusting and querying",
        Outcome(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())));
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    SetLastError(0xDEADBEEF);
    answers.Add("LookupPrivilegeValueW of SeSystemEnvironmentPrivilege",
                Outcome(LookupPrivilegeValueW(nullptr, TEXT("SeSystemEnvironmentPrivilege"),
                                              &privileges.Privileges[0].Luid)));
    answers.Add("SeSystemEnvironmentPrivilege enabled before",
                SystemEnvironmentPrivilegeEnabled() ? "yes" : "no");
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    SetLastError(0xDEADBEEF);
    const BOOL adjusted = AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
    // It succeeds also when the privilege is not held, and says so in the last error.
    answers.Add("AdjustTokenPrivileges enabling it",
                Outcome(adjusted) + " last error " + Number(GetLastError()));
    answers.Add("SeSystemEnvironmentPrivilege enabled after",
                SystemEnvironmentPrivilegeEnabled() ? "yes" : "no");
    answers.Add("CloseHandle of the token", Outcome(CloseHandle(token.release())));

    const struct {
        const char* question;
        const WCHAR* name;
        const WCHAR* guid;
        DWORD size;
    } reads[] = {
        {"CALIBRATE into its exact 4 bytes", TEXT("CALIBRATE"), vendor, 4},
        {"CALIBRATE into 8 bytes", TEXT("CALIBRATE"), vendor, 8},
        {"CALIBRATE into 40 bytes, as ALR_CURVE is read", TEXT("CALIBRATE"), vendor, 40},
        {"CALIBRATE into 3 bytes", TEXT("CALIBRATE"), vendor, 3},
        {"ALS_FLAG into its exact byte", TEXT("ALS_FLAG"), vendor, 1},
        {"ALR_CURVE, missing, into 40 bytes", TEXT("ALR_CURVE"), vendor, 40},
        // UEFI compares variable names exactly.
        {"calibrate, the name in lower case", TEXT("calibrate"), vendor, 8},
        {"CALIBRATE under the vendor GUID in lower case", TEXT("CALIBRATE"),
         TEXT("{bf82486a-80f7-4733-b82c-066bd8f2534b}"), 8},
        {"CALIBRATE under the vendor GUID without braces", TEXT("CALIBRATE"),
         TEXT("BF82486A-80F7-4733-B82C-066BD8F2534B"), 8},
        {"CALIBRATE under another vendor GUID", TEXT("CALIBRATE"),
         TEXT("{8BE4DF61-93CA-11D2-AA0D-00E098032B8C}"), 8},
        {"CALIBRATE under the vendor GUID one digit short", TEXT("CALIBRATE"),
         TEXT("{BF82486A-80F7-4733-B82C-066BD8F2534}"), 8},
        {"CALIBRATE under the vendor GUID with a wrong separator", TEXT("CALIBRATE"),
         TEXT("{BF82486A+80F7-4733-B82C-066BD8F2534B}"), 8},
        {"CALIBRATE under the vendor GUID with a digit that is not hexadecimal", TEXT("CALIBRATE"),
         TEXT("{BF82486A-80F7-4733-B82C-066BD8F2534G}"), 8},
    };
    for (const auto& read : reads) answers.Add(read.question, Read(read.name, read.guid, read.size));
}

void MessageQuestions(Answers& answers) {
    // The codes that the firmware reads, the registry and the service manager fail with;
    // asked as the ALR read failure asks, without FORMAT_MESSAGE_IGNORE_INSERTS.
    const DWORD codes[] = {1,   2,   3,   5,   6,   8,    13,   32,   80,   87,
                           122, 203, 234, 259, 998, 1060, 1063, 1073, 1314, 1722};
    for (DWORD code : codes) {
        LPWSTR text = nullptr;
        SetLastError(0xDEADBEEF);
        const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM,
                                            nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
        std::string answer;
        if (length == 0)
            answer = "fail " + Number(GetLastError());
        else if (!text || static_cast<DWORD>(lstrlenW(text)) != length)
            answer = "length " + Number(length) + " does not match the text";
        else
            answer = Escape(text);
        answers.Add("FormatMessageW of " + Number(code), answer);
        if (text && LocalFree(text) != nullptr)
            answers.Add("LocalFree of the text of " + Number(code), "failed");
    }

    LPWSTR text = nullptr;
    SetLastError(0xDEADBEEF);
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                                        0x2000ABCD, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    answers.Add("FormatMessageW of a code without a text",
                Number(length) + " error " + Number(GetLastError()) +
                    (text ? " with a buffer" : " without a buffer"));
    if (text) LocalFree(text);
}

}  // namespace conformance
