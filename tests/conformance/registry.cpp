// The registry as the publication uses it: opening keys by path, counting and
// enumerating subkeys with the in/out name length, setting REG_DWORD and REG_SZ values;
// and as -install and -remove keep the event source: creating a key with the keys on
// its way, a REG_EXPAND_SZ, deleting a key. The keys below SOFTWARE\NoxelConformance
// are the program's scratch (scratch.cpp).
#include <iterator>

#include "tests/conformance/conformance.h"

namespace conformance {

namespace {

const WCHAR* const base = scratchKey;

std::string Opened(const WCHAR* path, REGSAM access) {
    UniqueKey key;
    const LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, key.put());
    return Number(static_cast<unsigned long>(result));
}

// Sets a value through a key opened as the publication opens its keys.
std::string Set(const WCHAR* keyPath, const WCHAR* name, DWORD type, const void* data, DWORD size) {
    UniqueKey key;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, key.put());
    if (result == ERROR_SUCCESS)
        result = RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size);
    return Number(static_cast<unsigned long>(result));
}

void Enumeration(Answers& answers) {
    UniqueKey key;
    answers.Add("RegOpenKeyExW of the conformance key, all access", Opened(base, KEY_ALL_ACCESS));
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, base, 0, KEY_ALL_ACCESS, key.put());

    // As the publication asks: a class buffer, the count, nothing else.
    WCHAR className[MAX_PATH];
    for (WCHAR& c : className) c = '#';
    DWORD classLength = MAX_PATH, subKeys = 0xEEEE;
    LONG result = RegQueryInfoKeyW(key.get(), className, &classLength, nullptr, &subKeys, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr);
    answers.Add("RegQueryInfoKeyW with a class buffer and the subkey count",
                Number(static_cast<unsigned long>(result)) + " class length " + Number(classLength) +
                    " class " + (className[0] == 0 ? "empty" : "not written") + " subkeys " +
                    Number(subKeys));
    DWORD longest = 0xEEEE, values = 0xEEEE;
    result = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, &longest, nullptr, &values,
                              nullptr, nullptr, nullptr, nullptr);
    answers.Add("RegQueryInfoKeyW longest subkey name and value count",
                Number(static_cast<unsigned long>(result)) + " longest " + Number(longest) + " values " +
                    Number(values));

    // The publication's loop: the capacity set afresh for every index.
    std::string order;
    DWORD index = 0, indexOfAZ = 0;
    for (;; ++index) {
        WCHAR name[256];
        DWORD length = static_cast<DWORD>(std::size(name));
        result = RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS) break;
        if (lstrlenW(name) == 2 && name[0] == 'A' && name[1] == 'Z') indexOfAZ = index;
        if (!order.empty()) order += ',';
        order += Escape(name);
        if (static_cast<DWORD>(lstrlenW(name)) != length) order += "(length " + Number(length) + ")";
    }
    answers.Add("RegEnumKeyExW of every subkey, in order", order);
    answers.Add("RegEnumKeyExW past the last subkey", Number(static_cast<unsigned long>(result)));

    // In: the capacity with the terminator; out: the length without it. "AZ" is two
    // characters; the buffer is pre-filled so that a write shows.
    for (DWORD capacity : {1UL, 2UL, 3UL}) {
        WCHAR name[8] = {'#', '#', '#', '#', '#', '#', '#', 0};
        DWORD length = capacity;
        result = RegEnumKeyExW(key.get(), indexOfAZ, name, &length, nullptr, nullptr, nullptr, nullptr);
        answers.Add("RegEnumKeyExW of AZ with a capacity of " + Number(capacity),
                    Number(static_cast<unsigned long>(result)) + " length " + Number(length) + " name " +
                        Escape(name));
    }
    answers.Add("RegCloseKey", Number(static_cast<unsigned long>(RegCloseKey(key.release()))));
}

void Paths(Answers& answers) {
    const struct {
        const char* question;
        const WCHAR* path;
    } paths[] = {
        {"RegOpenKeyExW of a missing key", TEXT("SOFTWARE\\NoxelConformance\\missing")},
        {"RegOpenKeyExW of a path ending in a backslash", TEXT("SOFTWARE\\NoxelConformance\\b\\")},
        {"RegOpenKeyExW of a path starting with a backslash", TEXT("\\SOFTWARE\\NoxelConformance\\b")},
        {"RegOpenKeyExW of a path in another case", TEXT("software\\NOXELCONFORMANCE\\B")},
    };
    for (const auto& path : paths) answers.Add(path.question, Opened(path.path, KEY_ALL_ACCESS));
}

void Values(Answers& answers) {
    const WCHAR* const key = TEXT("SOFTWARE\\NoxelConformance\\b");
    UniqueKey readOnly;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, readOnly.put());
    const DWORD one = 1;
    answers.Add(
        "RegSetValueExW through a key opened for reading",
        Number(static_cast<unsigned long>(RegSetValueExW(readOnly.get(), TEXT("v"), 0, REG_DWORD,
                                                         reinterpret_cast<const BYTE*>(&one), sizeof(one)))));

    const DWORD lux = 1000;
    answers.Add("RegSetValueExW of a REG_DWORD", Set(key, TEXT("ALS_SRC"), REG_DWORD, &lux, sizeof(lux)));
    answers.Add("the REG_DWORD as stored", StoredValue(key, TEXT("ALS_SRC")));

    // The publication's REG_SZ: its size counts the terminator.
    const WCHAR curve[] = TEXT("5,10");
    answers.Add("RegSetValueExW of a REG_SZ with its terminator",
                Set(key, TEXT("ALR_CURVE"), REG_SZ, curve, sizeof(curve)));
    answers.Add("the REG_SZ with its terminator as stored", StoredValue(key, TEXT("ALR_CURVE")));

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
        Set(key, value.name, value.type, value.data, value.size);
        answers.Add(value.question, StoredValue(key, value.name));
    }

    // Value names are compared without case: a second write in another case replaces.
    const WCHAR* const other = TEXT("SOFTWARE\\NoxelConformance\\Z");
    const DWORD first = 1, second = 2;
    Set(other, TEXT("ALS_CS"), REG_DWORD, &first, sizeof(first));
    Set(other, TEXT("als_cs"), REG_DWORD, &second, sizeof(second));
    UniqueKey written;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, other, 0, KEY_ALL_ACCESS, written.put());
    DWORD values = 0xEEEE;
    RegQueryInfoKeyW(written.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    answers.Add("ALS_CS written, then als_cs: values, and ALS_CS as stored",
                Number(values) + ", " + StoredValue(other, TEXT("ALS_CS")));
    HKEY closed = written.release();
    RegCloseKey(closed);
    answers.Add("RegCloseKey of a key already closed",
                Number(static_cast<unsigned long>(RegCloseKey(closed))));
}

void CreationAndDeletion(Answers& answers) {
    const WCHAR* const created = TEXT("SOFTWARE\\NoxelConformance\\created");
    const WCHAR* const deeper = TEXT("SOFTWARE\\NoxelConformance\\created\\deeper");
    const auto create = [&](const WCHAR* path, UniqueKey& key) {
        DWORD disposition = 0xEEEE;
        const LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                            KEY_SET_VALUE, nullptr, key.put(), &disposition);
        return Number(static_cast<unsigned long>(result)) + " disposition " + Number(disposition);
    };
    UniqueKey key;
    answers.Add("RegCreateKeyExW of a key two levels below what is there", create(deeper, key));
    answers.Add("RegCreateKeyExW of that key again", create(deeper, key));
    const WCHAR path[] = TEXT("C:\\Program Files\\Noxel ALS\\NoxelAlsSvc.exe");
    answers.Add("RegSetValueExW of a REG_EXPAND_SZ, as the message file is written",
                Number(static_cast<unsigned long>(
                    RegSetValueExW(key.get(), TEXT("EventMessageFile"), 0, REG_EXPAND_SZ,
                                   reinterpret_cast<const BYTE*>(path), static_cast<DWORD>(sizeof(path))))));
    answers.Add("the REG_EXPAND_SZ as stored", StoredValue(deeper, TEXT("EventMessageFile")));
    answers.Add("RegDeleteKeyW of a key with a subkey",
                Number(static_cast<unsigned long>(RegDeleteKeyW(HKEY_LOCAL_MACHINE, created))));
    answers.Add("RegDeleteKeyW of a key without subkeys, with a value",
                Number(static_cast<unsigned long>(RegDeleteKeyW(HKEY_LOCAL_MACHINE, deeper))));
    answers.Add("RegDeleteKeyW of that key again",
                Number(static_cast<unsigned long>(RegDeleteKeyW(HKEY_LOCAL_MACHINE, deeper))));
    const DWORD one = 1;
    answers.Add("RegSetValueExW through a handle of the deleted key",
                Number(static_cast<unsigned long>(RegSetValueExW(
                    key.get(), TEXT("v"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one)))));
    answers.Add("RegOpenKeyExW of the deleted key", Opened(deeper, KEY_READ));
}

}  // namespace

void RegistryQuestions(Answers& answers) {
    Enumeration(answers);
    Paths(answers);
    Values(answers);
    CreationAndDeletion(answers);
}

}  // namespace conformance
