// Resources embedded in the executable, and its string tables.
#include "platform/win32/winbase.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace
{
// A type or name: an integer, or an upper-cased string.
struct ResourceKey
{
    bool isId = true;
    WORD id = 0;
    std::string text;
    bool operator==(const ResourceKey& other) const
    {
        return isId == other.isId && (isId ? id == other.id : text == other.text);
    }
};

ResourceKey KeyOf(const char* value, WORD id)
{
    ResourceKey key;
    if (!value)
    {
        key.id = id;
        return key;
    }
    if (value[0] == '#' && value[1])
    {
        unsigned long number = 0;
        const char* c = value + 1;
        while (*c >= '0' && *c <= '9' && number <= 0xFFFF)
            number = number * 10 + static_cast<unsigned long>(*c++ - '0');
        if (!*c && number <= 0xFFFF)
        {
            key.id = static_cast<WORD>(number);
            return key;
        }
    }
    key.isId = false;
    for (const char* c = value; *c; ++c)
        key.text += (*c >= 'a' && *c <= 'z') ? static_cast<char>(*c - 32) : *c;
    return key;
}

ResourceKey KeyOfArgument(LPCSTR value)
{
    if (IS_INTRESOURCE(value)) return KeyOf(nullptr, static_cast<WORD>(reinterpret_cast<ULONG_PTR>(value)));
    return KeyOf(value, 0);
}

struct Resource
{
    ResourceKey type;
    ResourceKey name;
    const unsigned char* data;
    DWORD size;
    bool removed = false; // replaced entries stay in place: their addresses are handles
};

struct ResourceTable
{
    std::mutex mutex;
    std::deque<Resource> resources; // addresses are the HRSRC values
    std::vector<std::pair<const unsigned char*, const unsigned char*>> stringSources;
    size_t parsedSources = 0;
    std::deque<std::string> stringStorage;
    std::map<UINT, const std::string*> strings;
    std::deque<std::vector<unsigned char>> blockStorage;
};

ResourceTable& Table()
{
    static ResourceTable* table = new ResourceTable;
    return *table;
}

void AppendUtf16(std::vector<unsigned char>& out, const std::string& text)
{
    std::vector<uint16_t> units;
    size_t i = 0;
    while (i < text.size())
    {
        unsigned char c = static_cast<unsigned char>(text[i]);
        uint32_t code = 0xFFFD;
        size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + length > text.size())
            length = 1;
        else
        {
            code = length == 1 ? c : c & (0x7F >> length);
            for (size_t k = 1; k < length; ++k)
            {
                unsigned char next = static_cast<unsigned char>(text[i + k]);
                if ((next & 0xC0) != 0x80)
                {
                    code = 0xFFFD;
                    length = k;
                    break;
                }
                code = (code << 6) | (next & 0x3F);
            }
        }
        i += length;
        if (code >= 0x10000 && code <= 0x10FFFF)
        {
            code -= 0x10000;
            units.push_back(static_cast<uint16_t>(0xD800 + (code >> 10)));
            units.push_back(static_cast<uint16_t>(0xDC00 + (code & 0x3FF)));
        }
        else
            units.push_back(static_cast<uint16_t>(code > 0x10FFFF ? 0xFFFD : code));
    }
    if (units.size() > 0xFFFF) units.resize(0xFFFF);
    out.push_back(static_cast<unsigned char>(units.size()));
    out.push_back(static_cast<unsigned char>(units.size() >> 8));
    for (uint16_t unit : units)
    {
        out.push_back(static_cast<unsigned char>(unit));
        out.push_back(static_cast<unsigned char>(unit >> 8));
    }
}

// Reads "id<TAB>text" lines; \n, \r, \t and \\ in the text are escapes. Other lines are skipped.
void ParseStringTable(ResourceTable& table, const unsigned char* begin, const unsigned char* end)
{
    std::string text(reinterpret_cast<const char*>(begin), static_cast<size_t>(end - begin));
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    size_t pos = 0;
    while (pos < text.size())
    {
        size_t lineEnd = text.find('\n', pos);
        if (lineEnd == std::string::npos) lineEnd = text.size();
        std::string line = text.substr(pos, lineEnd - pos);
        pos = lineEnd + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t i = 0;
        unsigned long id = 0;
        while (i < line.size() && line[i] >= '0' && line[i] <= '9' && id <= 0xFFFF)
            id = id * 10 + static_cast<unsigned long>(line[i++] - '0');
        if (i == 0 || id > 0xFFFF || i >= line.size() || (line[i] != '\t' && line[i] != ' ')) continue;
        while (i < line.size() && (line[i] == '\t' || line[i] == ' '))
            ++i;
        std::string value;
        for (; i < line.size(); ++i)
        {
            char c = line[i];
            if (c == '\\' && i + 1 < line.size())
            {
                char e = line[++i];
                value += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
            }
            else
                value += c;
        }
        table.stringStorage.push_back(std::move(value));
        table.strings[static_cast<UINT>(id)] = &table.stringStorage.back();
    }
}

// Turns newly registered string tables into strings and RT_STRING blocks of 16 counted UTF-16 strings.
void ParsePendingStrings(ResourceTable& table)
{
    if (table.parsedSources == table.stringSources.size()) return;
    for (; table.parsedSources < table.stringSources.size(); ++table.parsedSources)
        ParseStringTable(table, table.stringSources[table.parsedSources].first,
                         table.stringSources[table.parsedSources].second);
    for (auto& resource : table.resources)
        if (resource.type.isId && resource.type.id == 6) resource.removed = true;
    std::map<UINT, std::vector<unsigned char>> blocks;
    for (const auto& [id, text] : table.strings)
        blocks[(id >> 4) + 1];
    for (auto& [block, bytes] : blocks)
        for (UINT slot = 0; slot < 16; ++slot)
        {
            auto it = table.strings.find(((block - 1) << 4) | slot);
            AppendUtf16(bytes, it == table.strings.end() ? std::string() : *it->second);
        }
    for (auto& [block, bytes] : blocks)
    {
        bytes.push_back(0); // the terminating zero every resource carries
        table.blockStorage.push_back(std::move(bytes));
        const auto& stored = table.blockStorage.back();
        Resource resource;
        resource.type = KeyOf(nullptr, 6);
        resource.name = KeyOf(nullptr, static_cast<WORD>(block));
        resource.data = stored.data();
        resource.size = static_cast<DWORD>(stored.size() - 1);
        table.resources.push_back(resource);
    }
}

const Resource* FromHandle(ResourceTable& table, const void* handle)
{
    for (const auto& resource : table.resources)
        if (&resource == handle && !resource.removed) return &resource;
    return nullptr;
}

bool IsExecutableModule(HMODULE module)
{
    return !module || module == GetModuleHandleA(nullptr);
}
} // namespace

namespace ferolt::win32
{
void RegisterEmbeddedResources(const EmbeddedResource* entries, size_t count)
{
    ResourceTable& table = Table();
    std::lock_guard lock(table.mutex);
    for (size_t i = 0; i < count; ++i)
    {
        const EmbeddedResource& entry = entries[i];
        if (!entry.data || entry.end < entry.data) continue;
        if (entry.stringTable)
        {
            table.stringSources.emplace_back(entry.data, entry.end);
            continue;
        }
        Resource resource;
        resource.type = KeyOf(entry.type, entry.typeId);
        resource.name = KeyOf(entry.name, entry.nameId);
        resource.data = entry.data;
        resource.size = static_cast<DWORD>(entry.end - entry.data);
        // A bitmap resource is the bitmap file without its 14-byte file header.
        if (resource.type.isId && resource.type.id == 2 && resource.size > 14 && resource.data[0] == 'B' &&
            resource.data[1] == 'M')
        {
            resource.data += 14;
            resource.size -= 14;
        }
        for (auto& old : table.resources)
            if (old.type == resource.type && old.name == resource.name) old.removed = true;
        table.resources.push_back(resource);
    }
}

bool FindResourceString(UINT id, const char** text, size_t* length)
{
    ResourceTable& table = Table();
    std::lock_guard lock(table.mutex);
    ParsePendingStrings(table);
    auto it = table.strings.find(id);
    if (it == table.strings.end() || it->second->empty()) return false;
    if (text) *text = it->second->c_str();
    if (length) *length = it->second->size();
    return true;
}
} // namespace ferolt::win32

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type)
{
    if (!IsExecutableModule(module))
    {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    if (!name || !type)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    ResourceKey typeKey = KeyOfArgument(type);
    ResourceKey nameKey = KeyOfArgument(name);
    ResourceTable& table = Table();
    std::lock_guard lock(table.mutex);
    ParsePendingStrings(table);
    bool typeFound = false;
    for (const auto& resource : table.resources)
    {
        if (resource.removed || !(resource.type == typeKey)) continue;
        typeFound = true;
        if (resource.name == nameKey) return reinterpret_cast<HRSRC>(const_cast<Resource*>(&resource));
    }
    SetLastError(typeFound ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
}

HGLOBAL LoadResource(HMODULE module, HRSRC handle)
{
    if (!IsExecutableModule(module))
    {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    ResourceTable& table = Table();
    std::lock_guard lock(table.mutex);
    const Resource* resource = FromHandle(table, handle);
    if (!resource)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return const_cast<unsigned char*>(resource->data);
}

LPVOID LockResource(HGLOBAL data)
{
    return data;
}

DWORD SizeofResource(HMODULE module, HRSRC handle)
{
    if (!IsExecutableModule(module)) return 0;
    ResourceTable& table = Table();
    std::lock_guard lock(table.mutex);
    const Resource* resource = FromHandle(table, handle);
    if (!resource)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return resource->size;
}

BOOL FreeResource(HGLOBAL)
{
    return FALSE;
}

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size)
{
    if (!buffer || size <= 0)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    buffer[0] = '\0';
    const char* text = nullptr;
    size_t length = 0;
    if (!IsExecutableModule(instance) || !ferolt::win32::FindResourceString(id, &text, &length))
    {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    size_t copied = std::min(length, static_cast<size_t>(size - 1));
    // Back off to the start of a UTF-8 sequence that would be cut.
    if (copied < length)
        while (copied > 0 && (static_cast<unsigned char>(text[copied]) & 0xC0) == 0x80)
            --copied;
    memcpy(buffer, text, copied);
    buffer[copied] = '\0';
    return static_cast<int>(copied);
}
