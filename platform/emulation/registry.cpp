// A registry tree below HKEY_LOCAL_MACHINE: key and value names compared without
// case, subkeys listed in the order of their upper-case names.
#include <algorithm>
#include <cstring>

#include "platform/emulation/state.h"
#include "platform/registry.h"

using namespace emu;
using namespace emu::detail;

namespace {

std::vector<String> Components(std::u16string_view path) {
    std::vector<String> parts;
    String part;
    for (char16_t c : path) {
        if (c == u'\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

RegistryNode* Find(RegistryNode* node, const std::vector<String>& parts) {
    for (const String& part : parts) {
        auto it = node->children.find(Upper(part));
        if (it == node->children.end()) return nullptr;
        node = it->second.get();
    }
    return node;
}

RegistryNode* Find(RegistryNode* node, std::u16string_view path) { return Find(node, Components(path)); }

RegistryNode* Create(RegistryNode* node, std::u16string_view path) {
    for (const String& part : Components(path)) {
        auto& child = node->children[Upper(part)];
        if (!child) {
            child = std::make_unique<RegistryNode>();
            child->name = part;
        }
        node = child.get();
    }
    return node;
}

RegistryNode* NodeOf(State& s, HKEY key, DWORD* access = nullptr) {
    if (key == HKEY_LOCAL_MACHINE) {
        if (access) *access = KEY_ALL_ACCESS;
        return &s.registryRoot;
    }
    auto it = s.keys.find(key);
    if (it == s.keys.end()) return nullptr;
    if (access) *access = it->second.access;
    return it->second.node;
}

// Why NodeOf found nothing: a handle whose key was deleted stays open, but every call
// through it fails.
LONG KeyError(State& s, HKEY key) { return s.keys.count(key) ? ERROR_KEY_DELETED : ERROR_INVALID_HANDLE; }

LONG NewKeyHandle(State& s, RegistryNode* node, REGSAM access, PHKEY result) {
    auto handle = const_cast<void*>(NewHandle(s, "registry key"));
    s.keys[handle] = {node, access};
    *result = static_cast<HKEY>(handle);
    return ERROR_SUCCESS;
}

void PutValue(RegistryNode* node, const String& name, DWORD type, const emu::Bytes& data) {
    for (auto& [existing, value] : node->values) {
        if (EqualNoCase(existing, name)) {
            value = {type, data};
            return;
        }
    }
    node->values.push_back({name, {type, data}});
}

}  // namespace

LONG WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    (void)options;
    State& s = Machine();
    std::lock_guard guard(s.lock);
    const String path = ToString(subKey);
    if (auto error = Fault(s, Operation::RegOpenKeyExW, {path})) return static_cast<LONG>(*error);
    RegistryNode* parent = NodeOf(s, key);
    if (!parent) return KeyError(s, key);
    if (!result) return ERROR_INVALID_PARAMETER;
    if (!path.empty() && path[0] == u'\\') return ERROR_BAD_PATHNAME;  // paths are relative
    RegistryNode* node = Find(parent, path);
    if (!node) return ERROR_FILE_NOT_FOUND;
    return NewKeyHandle(s, node, access, result);
}

LONG WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className, DWORD options,
                            REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                            LPDWORD disposition) {
    (void)className, (void)options, (void)security;
    State& s = Machine();
    std::lock_guard guard(s.lock);
    const String path = ToString(subKey);
    if (auto error = Fault(s, Operation::RegCreateKeyExW, {path})) return static_cast<LONG>(*error);
    if (reserved) return ERROR_INVALID_PARAMETER;
    RegistryNode* parent = NodeOf(s, key);
    if (!parent) return KeyError(s, key);
    if (!result) return ERROR_INVALID_PARAMETER;
    if (!path.empty() && path[0] == u'\\') return ERROR_BAD_PATHNAME;
    // Every missing key on the way is created too.
    RegistryNode* node = Find(parent, path);
    if (disposition) *disposition = node ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    if (!node) node = Create(parent, path);
    return NewKeyHandle(s, node, access, result);
}

LONG WINAPI RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    const String path = ToString(subKey);
    if (auto error = Fault(s, Operation::RegDeleteKeyW, {path})) return static_cast<LONG>(*error);
    RegistryNode* parent = NodeOf(s, key);
    if (!parent) return KeyError(s, key);
    std::vector<String> parts = Components(path);
    if (parts.empty()) return ERROR_BAD_PATHNAME;  // a key does not delete itself here
    const String last = Upper(parts.back());
    parts.pop_back();
    parent = Find(parent, parts);
    if (!parent) return ERROR_FILE_NOT_FOUND;
    auto it = parent->children.find(last);
    if (it == parent->children.end()) return ERROR_FILE_NOT_FOUND;
    // Only a key without subkeys is deleted, its values with it.
    if (!it->second->children.empty()) return ERROR_ACCESS_DENIED;
    for (auto& [handle, open] : s.keys)
        if (open.node == it->second.get()) open.node = nullptr;
    parent->children.erase(it);
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryInfoKeyW(HKEY key, LPWSTR className, LPDWORD classLength, LPDWORD reserved,
                             LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values,
                             LPDWORD maxValueNameLength, LPDWORD maxValueLength, LPDWORD securityDescriptor,
                             PFILETIME lastWriteTime) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::RegQueryInfoKeyW)) return static_cast<LONG>(*error);
    if (reserved) return ERROR_INVALID_PARAMETER;
    DWORD access = 0;
    RegistryNode* node = NodeOf(s, key, &access);
    if (!node) return KeyError(s, key);
    if ((access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
    if (className && classLength && *classLength > 0) className[0] = 0;  // keys have no class
    if (classLength) *classLength = 0;
    if (subKeys) *subKeys = static_cast<DWORD>(node->children.size());
    if (maxSubKeyLength) {
        size_t longest = 0;
        for (const auto& [upper, child] : node->children) longest = std::max(longest, child->name.size());
        *maxSubKeyLength = static_cast<DWORD>(longest);
    }
    if (maxClassLength) *maxClassLength = 0;
    if (values) *values = static_cast<DWORD>(node->values.size());
    if (maxValueNameLength || maxValueLength) {
        size_t longestName = 0, longestData = 0;
        for (const auto& [name, value] : node->values) {
            longestName = std::max(longestName, name.size());
            longestData = std::max(longestData, value.data.size());
        }
        if (maxValueNameLength) *maxValueNameLength = static_cast<DWORD>(longestName);
        if (maxValueLength) *maxValueLength = static_cast<DWORD>(longestData);
    }
    if (securityDescriptor) *securityDescriptor = 0;
    if (lastWriteTime) *lastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
}

LONG WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                          LPWSTR className, LPDWORD classLength, PFILETIME lastWriteTime) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::RegEnumKeyExW)) return static_cast<LONG>(*error);
    if (reserved) return ERROR_INVALID_PARAMETER;
    DWORD access = 0;
    RegistryNode* node = NodeOf(s, key, &access);
    if (!node) return KeyError(s, key);
    if ((access & KEY_ENUMERATE_SUB_KEYS) == 0) return ERROR_ACCESS_DENIED;
    if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
    if (index >= node->children.size()) return ERROR_NO_MORE_ITEMS;
    auto it = std::next(node->children.begin(), index);
    const String& child = it->second->name;
    // Windows takes the capacity in characters with the terminator and gives back the
    // length without it.
    if (*nameLength <= child.size()) return ERROR_MORE_DATA;
    child.copy(name, child.size());
    name[child.size()] = 0;
    *nameLength = static_cast<DWORD>(child.size());
    if (className && classLength && *classLength > 0) className[0] = 0;
    if (classLength) *classLength = 0;
    if (lastWriteTime) *lastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    const String name = ToString(valueName);
    if (auto error = Fault(s, Operation::RegSetValueExW, {name})) return static_cast<LONG>(*error);
    if (reserved) return ERROR_INVALID_PARAMETER;
    DWORD access = 0;
    RegistryNode* node = NodeOf(s, key, &access);
    if (!node) return KeyError(s, key);
    if ((access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
    if (!data && size > 0) return ERROR_NOACCESS;
    // Windows keeps the terminator of a string whose size leaves it out, when the data
    // is followed by one (Wine copies this: "yes NT does this").
    const bool text = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
    if (data && text && size >= sizeof(WCHAR)) {
        WCHAR last = 0, next = 0;
        std::memcpy(&last, data + (size / sizeof(WCHAR) - 1) * sizeof(WCHAR), sizeof(WCHAR));
        if (last != 0) {
            std::memcpy(&next, data + (size / sizeof(WCHAR)) * sizeof(WCHAR), sizeof(WCHAR));
            if (next == 0) size += sizeof(WCHAR);
        }
    }
    PutValue(node, name, type, data ? emu::Bytes(data, data + size) : emu::Bytes());
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY key) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (auto error = Fault(s, Operation::RegCloseKey)) return static_cast<LONG>(*error);
    if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
    if (!s.keys.erase(key)) return ERROR_INVALID_HANDLE;
    ReleaseHandle(s, key, "registry key");
    return ERROR_SUCCESS;
}

namespace emu {

void CreateKey(const String& path) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    Create(&s.registryRoot, path);
}

bool KeyExists(const String& path) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    return Find(&s.registryRoot, path) != nullptr;
}

std::vector<String> SubKeys(const String& path) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    std::vector<String> names;
    if (RegistryNode* node = Find(&s.registryRoot, path))
        for (const auto& [upper, child] : node->children) names.push_back(child->name);
    return names;
}

std::optional<RegistryValue> GetValue(const String& path, const String& name) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    if (RegistryNode* node = Find(&s.registryRoot, path))
        for (const auto& [existing, value] : node->values)
            if (EqualNoCase(existing, name)) return value;
    return std::nullopt;
}

std::vector<std::pair<String, RegistryValue>> Values(const String& path) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    RegistryNode* node = Find(&s.registryRoot, path);
    return node ? node->values : std::vector<std::pair<String, RegistryValue>>{};
}

Bytes DwordBytes(DWORD value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

Bytes StringBytes(const String& text) {
    Bytes bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

String Utf16Text(const Bytes& bytes) {
    String text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
    return text;
}

}  // namespace emu
