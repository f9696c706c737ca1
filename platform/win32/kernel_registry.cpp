// The registry over a hive file.
//
// Hive file (little-endian): "FRHV", u32 version 1, u32 payload size, u32 FNV-1a hash of the payload,
// payload. Payload: u32 root count, then per root u32 root id and a key. Key: u16 name length, name,
// u32 value count, values (u16 name length, name, u32 type, u32 data size, data), u32 subkey count,
// subkeys.
#include "platform/bytes/byte_reader.h"
#include "platform/win32/kernel_hooks.h"
#include "platform/win32/winbase.h"
#include "platform/win32/winreg.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace
{
constexpr uint32_t kHiveVersion = 1;
constexpr size_t kMaxHiveSize = 64u << 20;
constexpr size_t kMaxValueSize = 16u << 20;
constexpr size_t kMaxNameLength = 16383;
constexpr size_t kMaxKeyNameLength = 255;
constexpr int kMaxDepth = 512;

std::string Fold(const std::string& text)
{
    std::string folded = text;
    for (char& c : folded)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return folded;
}

struct Value
{
    std::string name;
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;
};

struct Key
{
    std::string name;
    std::map<std::string, std::unique_ptr<Key>> subkeys; // by folded name
    std::map<std::string, Value> values;                 // by folded name
};

struct OpenKey
{
    uint32_t root;
    std::vector<std::string> path; // folded names
    REGSAM access;
};

struct Registry
{
    std::mutex mutex;
    std::optional<std::string> hiveOverride;
    bool loaded = false;
    std::map<uint32_t, Key> roots;
    std::unordered_map<uintptr_t, OpenKey> handles;
    uintptr_t nextHandle = 0x2000;
};

Registry& State()
{
    static Registry* registry = new Registry;
    return *registry;
}

bool IsRoot(uintptr_t value)
{
    return value >= 0x80000000u && value <= 0x80000003u;
}

std::string DefaultHivePath()
{
    std::string base;
    const char* xdg = getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        base = xdg;
    else
    {
        const char* home = getenv("HOME");
        if (!home || !*home)
        {
            passwd* entry = getpwuid(getuid());
            home = entry ? entry->pw_dir : "/tmp";
        }
        base = std::string(home) + "/.config";
    }
    return base + "/ferolt/registry.hive";
}

std::string HivePath(const Registry& registry)
{
    return registry.hiveOverride ? *registry.hiveOverride : DefaultHivePath();
}

uint32_t Fnv1a(const uint8_t* data, size_t size)
{
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    return hash;
}

// ---------------------------------------------------------------------------------------------------
// Reading and writing the hive

using Reader = ferolt::ByteCursor;

bool ReadName(Reader& reader, size_t maxLength, std::string* out)
{
    uint16_t length = 0;
    std::span<const uint8_t> bytes;
    if (!reader.U16(&length) || length > maxLength || !reader.Take(length, &bytes)) return false;
    out->assign(reinterpret_cast<const char*>(bytes.data()), length);
    return out->find('\0') == std::string::npos;
}

bool ReadKey(Reader& reader, Key* key, int depth)
{
    if (depth > kMaxDepth || !ReadName(reader, kMaxKeyNameLength, &key->name)) return false;
    uint32_t valueCount = 0;
    if (!reader.U32(&valueCount) || valueCount > reader.Remaining() / 10) // each value takes 10 bytes or more
        return false;
    for (uint32_t i = 0; i < valueCount; ++i)
    {
        Value value;
        uint32_t size = 0;
        std::span<const uint8_t> bytes;
        if (!ReadName(reader, kMaxNameLength, &value.name) || !reader.U32(&value.type) ||
            !reader.U32(&size) || size > kMaxValueSize || !reader.Take(size, &bytes))
            return false;
        value.data.assign(bytes.begin(), bytes.end());
        std::string folded = Fold(value.name);
        if (key->values.count(folded)) return false;
        key->values.emplace(std::move(folded), std::move(value));
    }
    uint32_t subkeyCount = 0;
    if (!reader.U32(&subkeyCount) || subkeyCount > reader.Remaining() / 10) return false;
    for (uint32_t i = 0; i < subkeyCount; ++i)
    {
        auto subkey = std::make_unique<Key>();
        if (!ReadKey(reader, subkey.get(), depth + 1) || subkey->name.empty() ||
            subkey->name.find('\\') != std::string::npos)
            return false;
        std::string folded = Fold(subkey->name);
        if (key->subkeys.count(folded)) return false;
        key->subkeys.emplace(std::move(folded), std::move(subkey));
    }
    return true;
}

bool ParseHive(const std::vector<uint8_t>& file, std::map<uint32_t, Key>* roots)
{
    Reader header(file.data(), file.size());
    std::span<const uint8_t> magic, payload;
    uint32_t version = 0, size = 0, hash = 0;
    if (!header.Take(4, &magic) || memcmp(magic.data(), "FRHV", 4) != 0 || !header.U32(&version) ||
        version != kHiveVersion || !header.U32(&size) || !header.U32(&hash) || size != header.Remaining() ||
        !header.Take(size, &payload))
        return false;
    if (Fnv1a(payload.data(), size) != hash) return false;
    Reader reader(payload.data(), size);
    uint32_t rootCount = 0;
    if (!reader.U32(&rootCount) || rootCount > 4) return false;
    for (uint32_t i = 0; i < rootCount; ++i)
    {
        uint32_t id = 0;
        Key key;
        if (!reader.U32(&id) || !IsRoot(id) || roots->count(id) || !ReadKey(reader, &key, 0)) return false;
        roots->emplace(id, std::move(key));
    }
    return reader.Remaining() == 0;
}

void PutU16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutName(std::vector<uint8_t>& out, const std::string& name)
{
    PutU16(out, static_cast<uint16_t>(name.size()));
    out.insert(out.end(), name.begin(), name.end());
}

void WriteKey(std::vector<uint8_t>& out, const Key& key)
{
    PutName(out, key.name);
    PutU32(out, static_cast<uint32_t>(key.values.size()));
    for (const auto& [folded, value] : key.values)
    {
        PutName(out, value.name);
        PutU32(out, value.type);
        PutU32(out, static_cast<uint32_t>(value.data.size()));
        out.insert(out.end(), value.data.begin(), value.data.end());
    }
    PutU32(out, static_cast<uint32_t>(key.subkeys.size()));
    for (const auto& [folded, subkey] : key.subkeys)
        WriteKey(out, *subkey);
}

bool MakeDirectories(const std::string& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    {
        std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

bool SaveLocked(Registry& registry)
{
    std::vector<uint8_t> payload;
    PutU32(payload, static_cast<uint32_t>(registry.roots.size()));
    for (const auto& [id, key] : registry.roots)
    {
        PutU32(payload, id);
        WriteKey(payload, key);
    }
    std::vector<uint8_t> file = {'F', 'R', 'H', 'V'};
    PutU32(file, kHiveVersion);
    PutU32(file, static_cast<uint32_t>(payload.size()));
    PutU32(file, Fnv1a(payload.data(), payload.size()));
    file.insert(file.end(), payload.begin(), payload.end());

    std::string path = HivePath(registry);
    if (!MakeDirectories(path)) return false;
    std::string temporary = path + ".tmp" + std::to_string(getpid());
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    size_t written = 0;
    while (written < file.size())
    {
        ssize_t put = write(fd, file.data() + written, file.size() - written);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        written += static_cast<size_t>(put);
    }
    bool ok = written == file.size() && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temporary.c_str(), path.c_str()) != 0)
    {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

void LoadLocked(Registry& registry)
{
    if (registry.loaded) return;
    registry.loaded = true;
    registry.roots.clear();
    std::string path = HivePath(registry);
    FILE* file = fopen(path.c_str(), "rbe");
    if (file)
    {
        std::vector<uint8_t> bytes;
        uint8_t chunk[65536];
        bool tooLarge = false;
        while (size_t got = fread(chunk, 1, sizeof(chunk), file))
        {
            if (bytes.size() + got > kMaxHiveSize)
            {
                tooLarge = true;
                break;
            }
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
        fclose(file);
        std::map<uint32_t, Key> roots;
        if (!tooLarge && ParseHive(bytes, &roots))
            registry.roots = std::move(roots);
        else // kept for a person to look at; the registry starts empty
            rename(path.c_str(), (path + ".damaged").c_str());
    }
    for (uint32_t id = 0x80000000u; id <= 0x80000003u; ++id)
        registry.roots[id];
}

// ---------------------------------------------------------------------------------------------------
// Keys and handles

std::vector<std::string> SplitPath(const char* subKey, bool* tooLong)
{
    std::vector<std::string> parts;
    *tooLong = false;
    if (!subKey) return parts;
    std::string text(subKey);
    size_t pos = 0;
    while (pos <= text.size())
    {
        size_t end = text.find('\\', pos);
        if (end == std::string::npos) end = text.size();
        if (end > pos)
        {
            parts.push_back(text.substr(pos, end - pos));
            if (parts.back().size() > kMaxKeyNameLength) *tooLong = true;
        }
        pos = end + 1;
    }
    return parts;
}

// The handle's key: its root and path, or an error.
LSTATUS Resolve(Registry& registry, HKEY handle, OpenKey* out)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (IsRoot(value))
    {
        *out = OpenKey{static_cast<uint32_t>(value), {}, KEY_ALL_ACCESS};
        return ERROR_SUCCESS;
    }
    auto it = registry.handles.find(value);
    if (it == registry.handles.end()) return static_cast<LSTATUS>(ERROR_INVALID_HANDLE);
    *out = it->second;
    return ERROR_SUCCESS;
}

Key* FindKey(Registry& registry, const OpenKey& open)
{
    Key* key = &registry.roots[open.root];
    for (const auto& part : open.path)
    {
        auto it = key->subkeys.find(part);
        if (it == key->subkeys.end()) return nullptr;
        key = it->second.get();
    }
    return key;
}

HKEY AddHandle(Registry& registry, OpenKey open)
{
    uintptr_t value = registry.nextHandle;
    registry.nextHandle += 4;
    registry.handles.emplace(value, std::move(open));
    return reinterpret_cast<HKEY>(value);
}

LSTATUS OpenOrCreate(HKEY handle, LPCSTR subKey, REGSAM access, PHKEY result, bool create,
                     LPDWORD disposition)
{
    if (!result) return static_cast<LSTATUS>(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    Registry& registry = State();
    std::lock_guard lock(registry.mutex);
    LoadLocked(registry);
    OpenKey base;
    if (LSTATUS status = Resolve(registry, handle, &base)) return status;
    Key* key = FindKey(registry, base);
    if (!key) return static_cast<LSTATUS>(ERROR_KEY_DELETED);
    bool tooLong = false;
    std::vector<std::string> parts = SplitPath(subKey, &tooLong);
    if (tooLong) return static_cast<LSTATUS>(ERROR_INVALID_PARAMETER);
    bool created = false;
    OpenKey open{base.root, base.path, access};
    for (const auto& part : parts)
    {
        std::string folded = Fold(part);
        auto it = key->subkeys.find(folded);
        if (it == key->subkeys.end())
        {
            if (!create) return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
            auto subkey = std::make_unique<Key>();
            subkey->name = part;
            it = key->subkeys.emplace(folded, std::move(subkey)).first;
            created = true;
        }
        key = it->second.get();
        open.path.push_back(folded);
    }
    if (created) SaveLocked(registry);
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = AddHandle(registry, std::move(open));
    return ERROR_SUCCESS;
}

// Runs `action` on the handle's key under the registry lock.
template <class Action> LSTATUS WithKey(HKEY handle, Action action)
{
    Registry& registry = State();
    std::lock_guard lock(registry.mutex);
    LoadLocked(registry);
    OpenKey open;
    if (LSTATUS status = Resolve(registry, handle, &open)) return status;
    Key* key = FindKey(registry, open);
    if (!key) return static_cast<LSTATUS>(ERROR_KEY_DELETED);
    return action(registry, open, *key);
}
} // namespace

namespace ferolt::hooks
{
void SetRegistryHivePath(const char* path)
{
    Registry& registry = State();
    std::lock_guard lock(registry.mutex);
    registry.hiveOverride = path ? std::optional<std::string>(path) : std::nullopt;
    registry.loaded = false;
    registry.roots.clear();
}

void ReloadRegistry()
{
    Registry& registry = State();
    std::lock_guard lock(registry.mutex);
    registry.loaded = false;
    registry.roots.clear();
}
} // namespace ferolt::hooks

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result)
{
    return OpenOrCreate(key, subKey, access, result, false, nullptr);
}

LSTATUS RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result)
{
    return OpenOrCreate(key, subKey, KEY_ALL_ACCESS, result, false, nullptr);
}

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access, SECURITY_ATTRIBUTES*,
                        PHKEY result, LPDWORD disposition)
{
    return OpenOrCreate(key, subKey, access, result, true, disposition);
}

LSTATUS RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result)
{
    return OpenOrCreate(key, subKey, KEY_ALL_ACCESS, result, true, nullptr);
}

LSTATUS RegCloseKey(HKEY key)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(key);
    if (IsRoot(value)) return ERROR_SUCCESS;
    Registry& registry = State();
    std::lock_guard lock(registry.mutex);
    return registry.handles.erase(value) ? ERROR_SUCCESS : static_cast<LSTATUS>(ERROR_INVALID_HANDLE);
}

LSTATUS RegQueryValueExA(HKEY handle, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size)
{
    if (data && !size) return static_cast<LSTATUS>(ERROR_INVALID_PARAMETER);
    return WithKey(handle,
                   [&](Registry&, const OpenKey& open, Key& key) -> LSTATUS
                   {
                       if (!(open.access & KEY_QUERY_VALUE)) return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
                       auto it = key.values.find(Fold(valueName ? valueName : ""));
                       if (it == key.values.end()) return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
                       const Value& value = it->second;
                       DWORD needed = static_cast<DWORD>(value.data.size());
                       if (type) *type = value.type;
                       if (!data)
                       {
                           if (size) *size = needed;
                           return ERROR_SUCCESS;
                       }
                       if (*size < needed)
                       {
                           *size = needed;
                           return static_cast<LSTATUS>(ERROR_MORE_DATA);
                       }
                       if (needed) memcpy(data, value.data.data(), needed);
                       *size = needed;
                       return ERROR_SUCCESS;
                   });
}

LSTATUS RegSetValueExA(HKEY handle, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD size)
{
    if (!data && size) return static_cast<LSTATUS>(ERROR_NOACCESS);
    if (size > kMaxValueSize || (valueName && strlen(valueName) > kMaxNameLength))
        return static_cast<LSTATUS>(ERROR_INVALID_PARAMETER);
    return WithKey(handle,
                   [&](Registry& registry, const OpenKey& open, Key& key) -> LSTATUS
                   {
                       if (!(open.access & KEY_SET_VALUE)) return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
                       Value value;
                       value.name = valueName ? valueName : "";
                       value.type = type;
                       if (size) value.data.assign(data, data + size);
                       bool isString = type == REG_SZ || type == REG_EXPAND_SZ;
                       if (isString && (value.data.empty() || value.data.back() != 0))
                           value.data.push_back(0);
                       key.values[Fold(value.name)] = std::move(value);
                       SaveLocked(registry);
                       return ERROR_SUCCESS;
                   });
}

LSTATUS RegDeleteValueA(HKEY handle, LPCSTR valueName)
{
    return WithKey(handle,
                   [&](Registry& registry, const OpenKey& open, Key& key) -> LSTATUS
                   {
                       if (!(open.access & KEY_SET_VALUE)) return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
                       if (!key.values.erase(Fold(valueName ? valueName : "")))
                           return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
                       SaveLocked(registry);
                       return ERROR_SUCCESS;
                   });
}

LSTATUS RegDeleteKeyA(HKEY handle, LPCSTR subKey)
{
    bool tooLong = false;
    std::vector<std::string> parts = SplitPath(subKey, &tooLong);
    if (parts.empty() || tooLong) return static_cast<LSTATUS>(ERROR_INVALID_PARAMETER);
    return WithKey(handle,
                   [&](Registry& registry, const OpenKey&, Key& base) -> LSTATUS
                   {
                       Key* parent = &base;
                       for (size_t i = 0; i + 1 < parts.size(); ++i)
                       {
                           auto it = parent->subkeys.find(Fold(parts[i]));
                           if (it == parent->subkeys.end()) return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
                           parent = it->second.get();
                       }
                       auto it = parent->subkeys.find(Fold(parts.back()));
                       if (it == parent->subkeys.end()) return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
                       if (!it->second->subkeys.empty()) return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
                       parent->subkeys.erase(it);
                       SaveLocked(registry);
                       return ERROR_SUCCESS;
                   });
}

LSTATUS RegEnumKeyExA(HKEY handle, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD, LPSTR, LPDWORD, void*)
{
    if (!name || !nameSize) return static_cast<LSTATUS>(ERROR_INVALID_PARAMETER);
    return WithKey(handle,
                   [&](Registry&, const OpenKey&, Key& key) -> LSTATUS
                   {
                       if (index >= key.subkeys.size()) return static_cast<LSTATUS>(ERROR_NO_MORE_ITEMS);
                       auto it = key.subkeys.begin();
                       std::advance(it, index);
                       const std::string& text = it->second->name;
                       if (text.size() + 1 > *nameSize) return static_cast<LSTATUS>(ERROR_MORE_DATA);
                       memcpy(name, text.c_str(), text.size() + 1);
                       *nameSize = static_cast<DWORD>(text.size());
                       return ERROR_SUCCESS;
                   });
}

LSTATUS RegFlushKey(HKEY handle)
{
    return WithKey(handle, [](Registry&, const OpenKey&, Key&) -> LSTATUS { return ERROR_SUCCESS; });
}
