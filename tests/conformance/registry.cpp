// The registry as the publication and -install and -remove use it, below
// SOFTWARE\NoxelConformance, the program's scratch, which the questions make and remove.
#include "tests/conformance/conformance.h"

namespace conformance {

namespace {

const WCHAR* const b = TEXT("SOFTWARE\\NoxelConformance\\b");
const WCHAR* const z = TEXT("SOFTWARE\\NoxelConformance\\Z");
const WCHAR* const deeper = TEXT("SOFTWARE\\NoxelConformance\\created\\deeper");
// The keys whose order the enumeration asks about.
const WCHAR* const subkeys[] = {TEXT("b"),  TEXT("AZ"), TEXT("A_1"), TEXT("a2"), TEXT("Z"), TEXT("_x"),
                                TEXT("10"), TEXT("9"),  TEXT("~t"),  TEXT("[y"), TEXT("Ab")};

std::basic_string<WCHAR> Subkey(const WCHAR* name) {
    return std::basic_string<WCHAR>(scratchKey) + TEXT("\\") + name;
}

std::string Opened(const WCHAR* path, UniqueKey& key, REGSAM access = KEY_ALL_ACCESS) {
    return Number(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, key.put()));
}

std::string Set(HKEY key, const WCHAR* path, const WCHAR* name, DWORD type, const void* data, DWORD size) {
    const LONG result = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    return Number(result) + ", " + StoredValue(path, name);
}

}  // namespace

void RegistryQuestions(Answers& answers) {
    UniqueKey key, other;
    for (const WCHAR* name : subkeys)
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, Subkey(name).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ, nullptr, key.put(), nullptr);
    // The publication's base keys end in a backslash.
    answers.Add("RegOpenKeyExW of the conformance key through a path ending in a backslash, all access",
                Opened(TEXT("SOFTWARE\\NoxelConformance\\"), key));

    // As the publication asks: a class buffer, the count, nothing else.
    WCHAR className[MAX_PATH] = {'#'};
    DWORD classLength = MAX_PATH, subKeys = 0xEEEE;
    LONG result = RegQueryInfoKeyW(key.get(), className, &classLength, nullptr, &subKeys, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr);
    answers.Add("RegQueryInfoKeyW with a class buffer and the subkey count",
                Number(result) + " class length " + Number(classLength) + " class " +
                    (className[0] == 0 ? "empty" : "not written") + " subkeys " + Number(subKeys));

    // The publication's loop: the capacity set afresh for every index.
    std::string order;
    DWORD index = 0, indexOfAZ = 0;
    for (;; ++index) {
        WCHAR name[256];
        DWORD length = 256;
        result = RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS) break;
        if (Escape(name) == "AZ") indexOfAZ = index;
        order += (order.empty() ? "" : ",") + Escape(name);
        if (static_cast<DWORD>(lstrlenW(name)) != length) order += "(length " + Number(length) + ")";
    }
    answers.Add("RegEnumKeyExW of every subkey, in order", order);
    answers.Add("RegEnumKeyExW past the last subkey", Number(result));

    // A capacity left at the length of the name before does not hold a name as long.
    for (DWORD capacity : {2UL, 3UL}) {
        WCHAR name[8] = {'#', '#', '#', '#', '#', '#', '#', 0};
        DWORD length = capacity;
        result = RegEnumKeyExW(key.get(), indexOfAZ, name, &length, nullptr, nullptr, nullptr, nullptr);
        answers.Add("RegEnumKeyExW of AZ with a capacity of " + Number(capacity),
                    Number(result) + " length " + Number(length) + " name " + Escape(name));
    }

    answers.Add("RegOpenKeyExW of a missing key", Opened(TEXT("SOFTWARE\\NoxelConformance\\missing"), other));
    answers.Add("RegOpenKeyExW of a path in another case",
                Opened(TEXT("software\\NOXELCONFORMANCE\\B"), other));

    // Each call needs its own right, which the publication's open asks for.
    Opened(scratchKey, other, KEY_SET_VALUE);
    WCHAR first[256];
    DWORD firstLength = 256;
    answers.Add(
        "RegQueryInfoKeyW, then RegEnumKeyExW, through a key opened for setting values",
        Number(RegQueryInfoKeyW(other.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr)) +
            ", " +
            Number(RegEnumKeyExW(other.get(), 0, first, &firstLength, nullptr, nullptr, nullptr, nullptr)));

    const DWORD one = 1, two = 2;
    Opened(b, key, KEY_READ);
    answers.Add("RegSetValueExW through a key opened for reading, as stored",
                Set(key.get(), b, TEXT("v"), REG_DWORD, &one, sizeof(one)));
    Opened(b, key);
    answers.Add("RegSetValueExW of a REG_SZ with its terminator, as stored",
                Set(key.get(), b, TEXT("ALR_CURVE"), REG_SZ, TEXT("5,10"), 10));
    answers.Add("RegSetValueExW of a REG_SZ of 6 bytes without its terminator, as stored",
                Set(key.get(), b, TEXT("forgotten"), REG_SZ, TEXT("abc"), 6));
    answers.Add("RegSetValueExW of a REG_SZ of 6 bytes cut from a longer text, as stored",
                Set(key.get(), b, TEXT("cut"), REG_SZ, TEXT("abcd"), 6));

    // Value names are compared without case: a second write in another case replaces.
    Opened(z, key);
    Set(key.get(), z, TEXT("ALS_CS"), REG_DWORD, &one, sizeof(one));
    Set(key.get(), z, TEXT("als_cs"), REG_DWORD, &two, sizeof(two));
    DWORD count = 0xEEEE;
    RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                     nullptr, nullptr, nullptr);
    answers.Add("ALS_CS written, then als_cs: values, and ALS_CS as stored",
                Number(count) + ", " + StoredValue(z, TEXT("ALS_CS")));

    const auto create = [&] {
        DWORD disposition = 0xEEEE;
        const LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, deeper, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                            KEY_SET_VALUE, nullptr, key.put(), &disposition);
        return Number(result) + " disposition " + Number(disposition);
    };
    answers.Add("RegCreateKeyExW of a key two levels below what is there", create());
    answers.Add("RegCreateKeyExW of that key again", create());
    const WCHAR path[] = TEXT("C:\\Program Files\\Noxel ALS\\NoxelAlsSvc.exe");
    answers.Add("RegSetValueExW of a REG_EXPAND_SZ, as the message file is written, as stored",
                Set(key.get(), deeper, TEXT("EventMessageFile"), REG_EXPAND_SZ, path, sizeof(path)));
    key.reset();
    answers.Add("RegDeleteKeyW of a key without subkeys, with a value",
                Number(RegDeleteKeyW(HKEY_LOCAL_MACHINE, deeper)));
    answers.Add("RegDeleteKeyW of that key again", Number(RegDeleteKeyW(HKEY_LOCAL_MACHINE, deeper)));

    // Whatever the answers: every key after the keys below it.
    other.reset();
    for (const WCHAR* name : subkeys) RegDeleteKeyW(HKEY_LOCAL_MACHINE, Subkey(name).c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, Subkey(TEXT("created")).c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, scratchKey);
}

}  // namespace conformance
