// Opening object files: the road from a file name through the codec to the window's scene.
#include "codec/mapped_file.h"
#include "codec/p3d_read_codec.h"
#include "engine/engine_api.h"
#include "viewer/tolvex_control.h"

#include <cstring>
#include <new>
#include <string>

namespace
{
// The content type of the viewer's object files.
constexpr GUID kObjectContentType = {
    0xAF352B73, 0xE55D, 0x4F8D, {0xB8, 0x07, 0x78, 0xD4, 0xCD, 0x74, 0xE7, 0x6C}};
const GUID* const kAcceptedTypes[] = {&kObjectContentType, nullptr};

constexpr DWORD kChunkViewpoints = 0x111;
constexpr DWORD kChunkBackground = 0x112;
constexpr DWORD kChunkViewpointNames = 0x10002;

// Shows the wait cursor for its lifetime.
class CScopedWaitCursor
{
public:
    CScopedWaitCursor() : previous_(::SetCursor(::LoadCursorA(nullptr, IDC_WAIT))) {}
    ~CScopedWaitCursor() { ::SetCursor(previous_); }
    CScopedWaitCursor(const CScopedWaitCursor&) = delete;
    CScopedWaitCursor& operator=(const CScopedWaitCursor&) = delete;

private:
    HCURSOR previous_;
};

// Entries: 2 bytes without meaning, the name, a byte 0x01 and an optional 0x00 after it.
void AppendViewpointNames(const BYTE* data, size_t size, std::vector<CString>& names)
{
    size_t pos = 0;
    while (pos < size)
    {
        const void* mark = size - pos > 2 ? std::memchr(data + pos + 2, 0x01, size - pos - 2) : nullptr;
        if (!mark) break;
        size_t end = static_cast<size_t>(static_cast<const BYTE*>(mark) - data);
        names.emplace_back(reinterpret_cast<const char*>(data + pos + 2), static_cast<int>(end - pos - 2));
        pos = end + 1;
        if (pos < size && data[pos] == 0x00) ++pos;
    }
}
// Why a file gave no view to decode.
CTolvexControl3D::LoadFailure UnopenableFailure(const CString& path)
{
    using Failure = CTolvexControl3D::LoadFailure;
    DWORD attributes = ::GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
    {
        DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Failure::NotFound
                                                                              : Failure::NotReadable;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Failure::NotReadable;
    HANDLE file = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Failure::NotReadable;
    LARGE_INTEGER size{};
    bool empty = ::GetFileSizeEx(file, &size) && size.QuadPart == 0;
    ::CloseHandle(file);
    // An empty file opens; one that opens but does not map is not readable as a whole.
    return empty ? Failure::NotObjectFile : Failure::NotReadable;
}
} // namespace

const char* CTolvexControl3D::LoadFailureText(LoadFailure failure)
{
    switch (failure)
    {
    case LoadFailure::None:
        return "loaded";
    case LoadFailure::NotFound:
        return "not found";
    case LoadFailure::NotReadable:
        return "not readable";
    case LoadFailure::NotObjectFile:
        return "not an object file";
    case LoadFailure::Damaged:
        return "damaged";
    case LoadFailure::OverLimit:
        return "over a limit";
    }
    return "not loaded";
}

bool CTolvexControl3D::LoadObjectFile(const CString& path)
{
    CScopedWaitCursor wait;
    m_bLoading = true;
    RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    ReleaseObjects();
    ReleaseLights();
    bool recognised = false;
    m_loadFailure = LoadFailure::None;
    try
    {
        {
            CMappedFile file(path, true);
            recognised = LoadObjectFromMemory(file.GetData(), static_cast<unsigned long>(file.GetSize()));
            if (!file.GetData()) m_loadFailure = UnopenableFailure(path);
        }
        if (!recognised)
        {
            // Not an object file: the engine's own model formats (X files among them) may know it.
            LMK::Model_* model = nullptr;
            if (SUCCEEDED(LRLoadModel(path, true, true, &model)) && model)
            {
                LMK::Object_* object = nullptr;
                LRCreateObject(model, &object, nullptr);
                m_objects.push_back(object);
                LMK::LoadedPart_* part = model;
                LRReleaseLoadedPart(&part);
            }
        }
    }
    catch (const std::bad_alloc&)
    {
        // Memory ran out somewhere on the load path: the file gives an empty scene, as one the codec
        // refuses does. The codec released what it held as the exception left it.
        ReleaseObjects();
        ReleaseLights();
        m_viewpoints.clear();
        m_viewpointNames.clear();
        m_loadFailure = LoadFailure::OverLimit;
    }
    bool loaded = HasObjects();
    if (loaded)
        m_loadFailure = LoadFailure::None;
    else if (m_loadFailure == LoadFailure::None)
        m_loadFailure = LoadFailure::Damaged; // read, but nothing in it to show
    if (loaded)
    {
        StandardOrientation();
        if (m_bShadows) ComputeShadows();
    }
    m_bLoading = false;
    return loaded;
}

bool CTolvexControl3D::LoadObjectFromMemory(const unsigned char* data, unsigned long size)
{
    m_viewpoints.clear();
    m_viewpointNames.clear();
    CP3DReadCodec codec(nullptr);
    DWORD viewpointSwitch = 0;
    bool readable =
        data && codec.IsReadable(data, size, nullptr, nullptr, nullptr, &viewpointSwitch, kAcceptedTypes);
    m_nViewpointSwitch = readable ? viewpointSwitch : 0;
    if (!readable)
    {
        // The start of a header that the file breaks off in is a damaged object file.
        bool cutHeader =
            data && size < sizeof(P3DFileHeader) && codec.MayBeReadable(data, size, nullptr, nullptr);
        m_loadFailure = cutHeader ? LoadFailure::Damaged : LoadFailure::NotObjectFile;
        return false;
    }
    if (!codec.Read(data, size, nullptr, nullptr, kAcceptedTypes))
    {
        // A budget or memory running out refuses a file whole; anything else broke its sections.
        m_loadFailure = codec.Refusal() != P3DRefusal::None ? LoadFailure::OverLimit : LoadFailure::Damaged;
        return true;
    }
    codec.GetObjects(m_objects, false);
    codec.GetLights(m_lights);

    DWORD flagCount = 0;
    const DWORD* flags = codec.GetQELSOSpecialFlags(&flagCount);
    // Flags 1 and 2 count as absent when the table is shorter.
    bool special = flags && flagCount >= 3 && flags[1] != 0;
    m_nSpecialLights = special ? 6 : 0;
    m_dwLightMask = special ? flags[2] : 0;

    bool backgroundSeen = false;
    for (LMK::Object_* object : m_objects)
    {
        LMK::Model_* model = nullptr;
        if (!object || FAILED(LRGetObjectModel(object, &model)) || !model) continue;
        LMK::ModelChunkStruct_TYP* chunks = nullptr;
        DWORD count = 0;
        LRGetModelChunks(model, &chunks, &count);
        for (DWORD i = 0; chunks && i < count; ++i)
        {
            const LMK::ModelChunkStruct_TYP& chunk = chunks[i];
            if (!chunk.data) continue;
            if (chunk.id == kChunkViewpoints)
            {
                size_t n = chunk.size / sizeof(P3DViewpointRecord);
                if (n > 0) m_nPendingViewpoint = 0;
                for (size_t k = 0; k < n; ++k)
                {
                    // Target, eye and field; the last float is not read.
                    float values[8];
                    std::memcpy(values, chunk.data + k * sizeof(P3DViewpointRecord), sizeof values);
                    if (!LMK::AllFinite(values, 7)) continue;
                    P3DViewpointRecord record;
                    std::memcpy(&record, values, sizeof record);
                    m_viewpoints.push_back(record);
                }
            }
            else if (chunk.id == kChunkBackground && !backgroundSeen)
            {
                // A record that cannot be read leaves the previous background, as a file without one does.
                backgroundSeen = true;
                LMK::EnvironmentStruct_TYP record;
                std::string_view names;
                if (LMK::ReadEnvironmentRecord(chunk.data, chunk.size, &record, &names))
                    OnEnvironmentRecord(&record, names);
            }
            else if (chunk.id == kChunkViewpointNames)
            {
                AppendViewpointNames(chunk.data, chunk.size, m_viewpointNames);
            }
        }
        LMK::LoadedPart_* part = model;
        LRReleaseLoadedPart(&part);
    }
    return true;
}

std::vector<std::string> CTolvexControl3D::BackgroundTextureNames(std::string_view text, uint32_t count)
{
    std::vector<std::string> names;
    names.reserve(count);
    for (uint32_t i = 0; i < count; ++i)
    {
        // A line feed at the very start does not end a name: the rest of the text is then one name.
        const size_t feed = text.find('\n');
        if (feed != std::string_view::npos && feed > 0)
        {
            names.emplace_back(text.substr(0, feed));
            text.remove_prefix(feed + 1);
        }
        else
        {
            names.emplace_back(text);
            text = {};
        }
    }
    return names;
}

bool CTolvexControl3D::OnEnvironmentRecord(const LMK::EnvironmentStruct_TYP* record,
                                           std::string_view textureNames)
{
    // Only records the reader let through size the array; any other caller is held to the same bound.
    if (!record || record->textureCount > LMK::kMaxEnvironmentRecordTextures) return true;
    ReleaseEnvironmentTextures();
    LRCopyEnvironmentStruct(&m_environmentDesc, record);
    const DWORD count = m_environmentDesc.textureCount;
    if (count > 0)
    {
        m_environmentTextures = std::make_unique<LMK::Texture_*[]>(count);
        m_environmentDesc.textures = m_environmentTextures.get();
        const std::vector<std::string> names = BackgroundTextureNames(textureNames, count);
        // A name that does not load leaves its slot empty.
        for (DWORD i = 0; i < count; ++i)
            LMK::LoadMaterialTexture(names[i].c_str(), &m_environmentTextures[i]);
    }
    LRReleaseEnvironment(&m_renderView.environment);
    return true;
}
