// The registry as the publication uses it: opening keys by path, counting and
// enumerating subkeys with the in/out name length, setting REG_DWORD and REG_SZ values;
// and as -install and -remove keep the event source: creating a key with the keys on
// its way, a REG_EXPAND_SZ, deleting a key. The keys below SOFTWARE\NoxelConformance
// are the program's scratch (scratch.cpp).
#include "tests/conformance/conformance.h"

namespace conformance {

namespace {

const WCHAR* const b = TEXT("SOFTWARE\\NoxelConformance\\b");
const WCHAR* const z = TEXT("SOFTWARE\\NoxelConformance\\Z");
const WCHAR* const created = TEXT("SOFTWARE\\NoxelConformance\\created");
const WCHAR* const deeper = TEXT("SOFTWARE\\NoxelConformance\\created\\deeper");

std::string Opened(const WCHAR* path, REGSAM access = KEY_ALL_ACCESS) {
    UniqueKey key;
    return Number(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, key.put()));
}

std::string Set(HKEY key, const WCHAR* name, DWORD type, const void* data, DWORD size) {
    return Number(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size));
}

// Sets a value through a key opened as the publication opens its keys.
std::string Set(const WCHAR* keyPath, const WCHAR* name, DWORD type, const void* data, DWORD size) {
    UniqueKey key;
    const LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, key.put());
    return result == ERROR_SUCCESS ? Set(key.get(), name, type, data, size) : Number(result);
}

void Enumeration(Answers& answers) {
    UniqueKey key;
    answers.Add("RegOpenKeyExW of the conformance key, all access",
                Number(RegOpenKeyExW(HKEY_LOCAL_MACHINE, scratchKey, 0, KEY_ALL_ACCESS, key.put())));

    // As the publication asks: a class buffer, the count, nothing else.
    WCHAR className[MAX_PATH] = {'#'};
    DWORD classLength = MAX_PATH, subKeys = 0xEEEE, longest = 0xEEEE, values = 0xEEEE;
    LONG result = RegQueryInfoKeyW(key.get(), className, &classLength, nullptr, &subKeys, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr);
    answers.Add("RegQueryInfoKeyW with a class buffer and the subkey count",
                Number(result) + " class length " + Number(classLength) + " class " +
                    (className[0] == 0 ? "empty" : "not written") + " subkeys " + Number(subKeys));
    result = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, &longest, nullptr, &values,
                              nullptr, nullptr, nullptr, nullptr);
    answers.Add("RegQueryInfoKeyW longest subkey name and value count",
                Number(result) + " longest " + Number(longest) + " values " + Number(values));

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

    // In: the capacity with the terminator; out: the length without it. "AZ" is two
    // characters; the buffer is pre-filled so that a write shows.
    for (DWORD capacity : {1UL, 2UL, 3UL}) {
        WCHAR name[8] = {'#', '#', '#', '#', '#', '#', '#', 0};
        DWORD length = capacity;
        result = RegEnumKeyExW(key.get(), indexOfAZ, name, &length, nullptr, nullptr, nullptr, nullptr);
        answers.Add("RegEnumKeyExW of AZ with a capacity of " + Number(capacity),
                    Number(result) + " length " + Number(length) + " name " + Escape(name));
    }
    answers.Add("RegCloseKey", Number(RegCloseKey(key.release())));

    answers.Add("RegOpenKeyExW of a missing key", Opened(TEXT("SOFTWARE\\NoxelConformance\\missing")));
    answers.Add("RegOpenKeyExW of a path ending in a backslash",
                Opened(TEXT("SOFTWARE\\NoxelConformance\\b\\")));
    answers.Add("RegOpenKeyExW of a path starting with a backslash",
                Opened(TEXT("\\SOFTWARE\\NoxelConformance\\b")));
    answers.Add("RegOpenKeyExW of a path in another case", Opened(TEXT("software\\NOXELCONFORMANCE\\B")));
}

void Values(Answers& answers) {
    const DWORD one = 1, two = 2, lux = 1000;
    UniqueKey readOnly;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, b, 0, KEY_READ, readOnly.put());
    answers.Add("RegSetValueExW through a key opened for reading",
                Set(readOnly.get(), TEXT("v"), REG_DWORD, &one, sizeof(one)));
    answers.Add("RegSetValueExW of a REG_DWORD", Set(b, TEXT("ALS_SRC"), REG_DWORD, &lux, sizeof(lux)));
    answers.Add("the REG_DWORD as stored", StoredValue(b, TEXT("ALS_SRC")));
    // The publication's REG_SZ: its size counts the terminator.
    const WCHAR curve[] = TEXT("5,10");
    answers.Add("RegSetValueExW of a REG_SZ with its terminator",
                Set(b, TEXT("ALR_CURVE"), REG_SZ, curve, sizeof(curve)));
    answers.Add("the REG_SZ with its terminator as stored", StoredValue(b, TEXT("ALR_CURVE")));

    const struct {
        const char* question;
        const WCHAR* name;
        DWORD type;
        const WCHAR* data;
        DWORD size;
    } sizes[] = {
        // A NUL follows the six bytes: Windows stores the terminator that the size left out.
        {"a REG_SZ of 6 bytes without its terminator, as stored", TEXT("forgotten"), REG_SZ, TEXT("abc"), 6},
        {"a REG_SZ of 6 bytes cut from a longer text, as stored", TEXT("cut"), REG_SZ, TEXT("abcd"), 6},
        {"a REG_MULTI_SZ of 12 bytes without its final terminator, as stored", TEXT("list"), REG_MULTI_SZ,
         TEXT("ab\0cd\0"), 12},
        {"a REG_BINARY of 6 bytes followed by a NUL, as stored", TEXT("bytes"), REG_BINARY, TEXT("abc"), 6},
    };
    for (const auto& value : sizes) {
        Set(b, value.name, value.type, value.data, value.size);
        answers.Add(value.question, StoredValue(b, value.name));
    }

    // Value names are compared without case: a second write in another case replaces.
    Set(z, TEXT("ALS_CS"), REG_DWORD, &one, sizeof(one));
    Set(z, TEXT("als_cs"), REG_DWORD, &two, sizeof(two));
    UniqueKey written;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, z, 0, KEY_ALL_ACCESS, written.put());
    DWORD values = 0xEEEE;
    RegQueryInfoKeyW(written.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    answers.Add("ALS_CS written, then als_cs: values, and ALS_CS as stored",
                Number(values) + ", " + StoredValue(z, TEXT("ALS_CS")));
    HKEY closed = written.release();
    RegCloseKey(closed);
    answers.Add("RegCloseKey of a key already closed", Number(RegCloseKey(closed)));
}

void CreationAndDeletion(Answers& answers) {
    UniqueKey key;
    const auto create = [&] {
        DWORD disposition = 0xEEEE;
        const LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, deeper, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                            KEY_SET_VALUE, nullptr, key.put(), &disposition);
        return Number(result) + " disposition " + Number(disposition);
    };
    answers.Add("RegCreateKeyExW of a key two levels below what is there", create());
    answers.Add("RegCreateKeyExW of that key again", create());
    const WCHAR path[] = TEXT("C:\\Program Files\\Noxel ALS\\NoxelAlsSvc.exe");
    answers.Add("RegSetValueExW of a REG_EXPAND_SZ, as the message file is written",
                Set(key.get(), TEXT("EventMessageFile"), REG_EXPAND_SZ, path, sizeof(path)));
    answers.Add("the REG_EXPAND_SZ as stored", StoredValue(deeper, TEXT("EventMessageFile")));
    answers.Add("RegDeleteKeyW of a key with a subkey", Number(RegDeleteKeyW(HKEY_LOCAL_MACHINE, created)));
    answers.Add("RegDeleteKeyW of a key without subkeys, with a value",
                Number(RegDeleteKeyW(HKEY_LOCAL_MACHINE, deeper)));
    answers.Add("RegDeleteKeyW of that key again", Number(RegDeleteKeyW(HKEY_LOCAL_MACHINE, deeper)));
    const DWORD one = 1;
    answers.Add("RegSetValueExW through a handle of the deleted key",
                Set(key.get(), TEXT("v"), REG_DWORD, &one, sizeof(one)));
    answers.Add("RegOpenKeyExW of the deleted key", Opened(deeper, KEY_READ));
}

}  // namespace

void RegistryQuestions(Answers& answers) {
    Enumeration(answers);
    Values(answers);
    CreationAndDeletion(answers);
}

}  // namespace conformance
