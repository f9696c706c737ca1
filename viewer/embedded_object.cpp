// An object file appended to the executable, copied out to a temporary file that stays.
#include "platform/win32/crt.h"
#include "platform/win32/winbase.h"
#include "viewer/viewer_app.h"

#include <cstdlib>
#include <vector>

namespace
{
constexpr DWORD kCopyBlock = 0x80000;
// How many fresh names to try when another file took the one just made.
constexpr int kNameAttempts = 64;

class FileHandle
{
public:
    explicit FileHandle(HANDLE h) : h_(h) {}
    ~FileHandle()
    {
        if (valid()) ::CloseHandle(h_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool valid() const { return h_ && h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

bool ReadAt(HANDLE file, uint64_t offset, void* buffer, DWORD size)
{
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    DWORD done = 0;
    return ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
           ::ReadFile(file, buffer, size, &done, nullptr) && done == size;
}

uint32_t U32(const BYTE* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// A new file in the temporary directory named "tolvex_tmpobj....tolvex". The name is checked with
// its extension: a name free without it may still be taken with it.
HANDLE CreateTemporaryObjectFile(CString& path)
{
    char directory[MAX_PATH] = {};
    DWORD length = ::GetTempPathA(sizeof(directory), directory);
    const char* base = length > 0 && length < sizeof(directory) ? directory : nullptr;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt)
    {
        char* name = _tempnam(base, "tolvex_tmpobj");
        if (!name) return INVALID_HANDLE_VALUE;
        CString candidate(name);
        std::free(name);
        candidate += ".tolvex";
        HANDLE file =
            ::CreateFileA(candidate, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
        {
            path = candidate;
            return file;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}
} // namespace

bool ExtractEmbeddedObject(const CString& executable, CString& outputPath)
{
    std::string path = executable.IsEmpty() ? ferolt::viewer::ExecutablePath() : executable.str();
    FileHandle in(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!in.valid()) return false;
    LARGE_INTEGER size64;
    if (!::GetFileSizeEx(in.get(), &size64) || size64.QuadPart < static_cast<LONGLONG>(kEmbeddedFooterSize))
        return false;
    uint64_t length = static_cast<uint64_t>(size64.QuadPart);

    BYTE footer[kEmbeddedFooterSize];
    if (!ReadAt(in.get(), length - kEmbeddedFooterSize, footer, sizeof(footer))) return false;
    if (U32(footer + 8) != kEmbeddedObjectMagic) return false;
    uint64_t offset = U32(footer);
    uint64_t size = U32(footer + 4);
    // The object lies before its footer, inside the file.
    uint64_t limit = length - kEmbeddedFooterSize;
    if (offset > limit || size > limit - offset) return false;

    CString created;
    FileHandle out(CreateTemporaryObjectFile(created));
    if (!out.valid()) return false;
    std::vector<BYTE> block(static_cast<size_t>(size < kCopyBlock ? size : kCopyBlock));
    for (uint64_t done = 0; done < size;)
    {
        DWORD n = static_cast<DWORD>(size - done < kCopyBlock ? size - done : kCopyBlock);
        DWORD written = 0;
        if (!ReadAt(in.get(), offset + done, block.data(), n) ||
            !::WriteFile(out.get(), block.data(), n, &written, nullptr) || written != n)
        {
            // A cut copy would stand for the object; without it the command line's file is used.
            ::DeleteFileA(created);
            return false;
        }
        done += n;
    }
    outputPath = created;
    return true;
}
