// Files, paths, mappings, directory search and temporary files.
#include "platform/win32/crt.h"
#include "platform/win32/kernel_objects.h"
#include "platform/win32/paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

using namespace ferolt::win32::detail;

namespace
{
int FoldAscii(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? c - 32 : c;
}

bool EqualNoCase(const char* a, const char* b)
{
    while (*a && *b)
    {
        if (FoldAscii(static_cast<unsigned char>(*a)) != FoldAscii(static_cast<unsigned char>(*b)))
            return false;
        ++a;
        ++b;
    }
    return *a == *b;
}

bool IsDirectory(const std::string& path)
{
    struct stat info
    {
    };
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Exists(const std::string& path)
{
    struct stat info
    {
    };
    return lstat(path.c_str(), &info) == 0;
}

std::string ParentOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The code for a path that could not be opened: a missing directory on the way is "path not found".
DWORD MissingError(const std::string& path)
{
    return IsDirectory(ParentOf(path)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

void FailWithErrno(int error, const std::string& path)
{
    if (error == ENOENT)
        SetLastError(MissingError(path));
    else
        SetLastError(ErrorFromErrno(error));
}

DWORD AttributesOf(const char* name, const struct stat& info)
{
    DWORD attributes = 0;
    if (S_ISDIR(info.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (!(info.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
    if (name[0] == '.' && strcmp(name, ".") != 0 && strcmp(name, "..") != 0)
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

FILETIME ToFileTime(const timespec& time)
{
    uint64_t value = 116444736000000000ull + static_cast<uint64_t>(time.tv_sec) * 10000000u +
                     static_cast<uint64_t>(time.tv_nsec) / 100u;
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

struct FileObject final : KernelObject
{
    int fd = -1;
    std::string path;
    bool deleteOnClose = false;
    ObjectKind Kind() const override { return ObjectKind::File; }
    ~FileObject() override
    {
        if (fd >= 0) close(fd);
        if (deleteOnClose) unlink(path.c_str());
    }
};

struct MappingObject final : KernelObject
{
    int fd = -1;
    uint64_t size = 0;
    ObjectKind Kind() const override { return ObjectKind::Mapping; }
    ~MappingObject() override
    {
        if (fd >= 0) close(fd);
    }
};

struct FindSearch final : KernelObject
{
    std::vector<WIN32_FIND_DATAA> items;
    size_t next = 0;
    ObjectKind Kind() const override { return ObjectKind::Find; }
};

std::shared_ptr<FileObject> FindFile(HANDLE handle)
{
    auto file = FindObjectOf<FileObject>(handle, ObjectKind::File);
    if (!file) SetLastError(ERROR_INVALID_HANDLE);
    return file;
}

struct ViewTable
{
    std::mutex mutex;
    std::map<uintptr_t, size_t> views; // base -> length
};

ViewTable& Views()
{
    static ViewTable* table = new ViewTable;
    return *table;
}
} // namespace

// ---------------------------------------------------------------------------------------------------
// Paths

namespace ferolt::win32
{
std::string ResolvePath(const char* path)
{
    if (!path) return {};
    std::string text(path);
    std::replace(text.begin(), text.end(), '\\', '/');
    if (text.size() >= 2 && text[1] == ':' &&
        ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z')))
        text.erase(0, 2);
    bool absolute = !text.empty() && text[0] == '/';
    bool trailing = text.size() > 1 && text.back() == '/';

    std::string result = absolute ? "/" : "";
    bool lookUp = true; // stops at the first component that does not exist
    size_t pos = 0;
    while (pos < text.size())
    {
        size_t end = text.find('/', pos);
        if (end == std::string::npos) end = text.size();
        std::string component = text.substr(pos, end - pos);
        pos = end + 1;
        if (component.empty()) continue;
        std::string directory = result.empty() ? "." : result;
        std::string chosen = component;
        if (lookUp && component != "." && component != "..")
        {
            std::string exact = (result.empty() || result.back() == '/' ? result : result + "/") + component;
            if (!Exists(exact))
            {
                std::string best;
                if (DIR* dir = opendir(directory.c_str()))
                {
                    while (dirent* entry = readdir(dir))
                        if (EqualNoCase(entry->d_name, component.c_str()) &&
                            (best.empty() || entry->d_name < best))
                            best = entry->d_name;
                    closedir(dir);
                }
                if (best.empty())
                    lookUp = false;
                else
                    chosen = best;
            }
        }
        if (!result.empty() && result.back() != '/') result += '/';
        result += chosen;
    }
    if (result.empty()) result = absolute ? "/" : ".";
    if (trailing && result.back() != '/') result += '/';
    return result;
}

FILE* OpenCFile(const char* path, const char* mode)
{
    if (!path || !mode || !*path)
    {
        errno = EINVAL;
        return nullptr;
    }
    std::string cleanMode;
    for (const char* m = mode; *m && *m != ','; ++m)
        if (strchr("rwa+bx", *m)) cleanMode += *m;
    cleanMode += 'e';
    std::string resolved = ResolvePath(path);
    if (IsDirectory(resolved))
    {
        errno = EISDIR;
        return nullptr;
    }
    return fopen(resolved.c_str(), cleanMode.c_str());
}

bool MatchWildcard(const char* pattern, const char* name)
{
    if (!pattern || !name) return false;
    // Iterative matching with one back-tracking point for the last '*'.
    auto match = [](const char* p, const char* pEnd, const char* n)
    {
        const char* star = nullptr;
        const char* starName = nullptr;
        while (*n)
        {
            if (p < pEnd && (*p == '?' || FoldAscii(static_cast<unsigned char>(*p)) ==
                                              FoldAscii(static_cast<unsigned char>(*n))))
            {
                ++p;
                ++n;
            }
            else if (p < pEnd && *p == '*')
            {
                star = p++;
                starName = n;
            }
            else if (star)
            {
                p = star + 1;
                n = ++starName;
            }
            else
                return false;
        }
        while (p < pEnd && *p == '*')
            ++p;
        return p == pEnd;
    };
    size_t length = strlen(pattern);
    if (match(pattern, pattern + length, name)) return true;
    if (length >= 2 && pattern[length - 2] == '.' && pattern[length - 1] == '*' && !strchr(name, '.'))
        return match(pattern, pattern + length - 2, name);
    return false;
}
} // namespace ferolt::win32

FILE* _fsopen(const char* path, const char* mode, int)
{
    return ferolt::win32::OpenCFile(path, mode);
}

char* _tempnam(const char* directory, const char* prefix)
{
    std::string base;
    const char* tmp = getenv("TMPDIR");
    if (tmp && IsDirectory(tmp))
        base = tmp;
    else if (directory && IsDirectory(ferolt::win32::ResolvePath(directory)))
        base = ferolt::win32::ResolvePath(directory);
    else
        base = "/tmp";
    if (base.back() != '/') base += '/';
    static std::atomic<uint32_t> counter{0};
    uint32_t seed = static_cast<uint32_t>(getpid()) * 2654435761u ^ GetTickCount();
    for (int attempt = 0; attempt < 1000; ++attempt)
    {
        char suffix[16];
        snprintf(suffix, sizeof(suffix), "%x", (seed + counter.fetch_add(1) * 7919u) & 0xFFFFFFu);
        std::string name = base + (prefix ? prefix : "") + suffix;
        if (!Exists(name))
        {
            char* out = static_cast<char*>(malloc(name.size() + 1));
            if (out) memcpy(out, name.c_str(), name.size() + 1);
            return out;
        }
    }
    errno = EEXIST;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------------
// Files

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD creation, DWORD flags,
                   HANDLE)
{
    if (!path || !*path)
    {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::string resolved = ferolt::win32::ResolvePath(path);
    bool read = access & (GENERIC_READ | GENERIC_ALL | 0x0001u /* FILE_READ_DATA */);
    bool write =
        access & (GENERIC_WRITE | GENERIC_ALL | 0x0002u /* FILE_WRITE_DATA */ | 0x0004u /* APPEND */);
    int mode = write ? (read ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (creation)
    {
    case CREATE_NEW:
        mode |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        mode |= O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        mode |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        if (!write)
        {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        mode |= O_TRUNC;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (IsDirectory(resolved))
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    bool existed = Exists(resolved);
    int fd = open(resolved.c_str(), mode | O_CLOEXEC, 0666);
    if (fd < 0)
    {
        FailWithErrno(errno, resolved);
        return INVALID_HANDLE_VALUE;
    }
    auto file = std::make_shared<FileObject>();
    file->fd = fd;
    file->path = resolved;
    file->deleteOnClose = (flags & FILE_FLAG_DELETE_ON_CLOSE) != 0;
    SetLastError(existed && (creation == CREATE_ALWAYS || creation == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                   : ERROR_SUCCESS);
    return AddObject(std::move(file));
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED)
{
    if (bytesRead) *bytesRead = 0;
    auto file = FindFile(handle);
    if (!file) return FALSE;
    if (!buffer && bytesToRead)
    {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    DWORD total = 0;
    while (total < bytesToRead)
    {
        ssize_t got = read(file->fd, static_cast<char*>(buffer) + total, bytesToRead - total);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0)
        {
            SetLastError(ErrorFromErrno(errno));
            if (bytesRead) *bytesRead = total;
            return FALSE;
        }
        if (got == 0) break;
        total += static_cast<DWORD>(got);
    }
    if (bytesRead) *bytesRead = total;
    return TRUE;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED)
{
    if (bytesWritten) *bytesWritten = 0;
    auto file = FindFile(handle);
    if (!file) return FALSE;
    if (!buffer && bytesToWrite)
    {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    DWORD total = 0;
    while (total < bytesToWrite)
    {
        ssize_t put = write(file->fd, static_cast<const char*>(buffer) + total, bytesToWrite - total);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0)
        {
            SetLastError(put < 0 ? ErrorFromErrno(errno) : ERROR_WRITE_FAULT);
            if (bytesWritten) *bytesWritten = total;
            return FALSE;
        }
        total += static_cast<DWORD>(put);
    }
    if (bytesWritten) *bytesWritten = total;
    return TRUE;
}

namespace
{
bool Seek(const FileObject& file, int64_t distance, DWORD method, int64_t* position)
{
    int64_t base;
    switch (method)
    {
    case FILE_BEGIN:
        base = 0;
        break;
    case FILE_CURRENT:
        base = lseek(file.fd, 0, SEEK_CUR);
        break;
    case FILE_END:
    {
        struct stat info
        {
        };
        base = fstat(file.fd, &info) == 0 ? info.st_size : -1;
        break;
    }
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (base < 0)
    {
        SetLastError(ErrorFromErrno(errno));
        return false;
    }
    if ((distance < 0 && base + distance < 0) || (distance > 0 && base > INT64_MAX - distance))
    {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return false;
    }
    int64_t target = base + distance;
    if (lseek(file.fd, target, SEEK_SET) < 0)
    {
        SetLastError(ErrorFromErrno(errno));
        return false;
    }
    *position = target;
    return true;
}
} // namespace

DWORD SetFilePointer(HANDLE handle, LONG distance, PLONG distanceHigh, DWORD method)
{
    auto file = FindFile(handle);
    if (!file) return INVALID_SET_FILE_POINTER;
    int64_t move =
        distanceHigh ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<DWORD>(*distanceHigh)) << 32) |
                                            static_cast<DWORD>(distance))
                     : distance;
    int64_t position = 0;
    if (!Seek(*file, move, method, &position)) return INVALID_SET_FILE_POINTER;
    if (distanceHigh) *distanceHigh = static_cast<LONG>(position >> 32);
    SetLastError(ERROR_SUCCESS); // the low part may legitimately be 0xFFFFFFFF
    return static_cast<DWORD>(position);
}

BOOL SetFilePointerEx(HANDLE handle, LARGE_INTEGER distance, PLARGE_INTEGER newPosition, DWORD method)
{
    auto file = FindFile(handle);
    if (!file) return FALSE;
    int64_t position = 0;
    if (!Seek(*file, distance.QuadPart, method, &position)) return FALSE;
    if (newPosition) newPosition->QuadPart = position;
    return TRUE;
}

BOOL SetEndOfFile(HANDLE handle)
{
    auto file = FindFile(handle);
    if (!file) return FALSE;
    off_t position = lseek(file->fd, 0, SEEK_CUR);
    if (position < 0 || ftruncate(file->fd, position) != 0)
    {
        SetLastError(ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE handle)
{
    auto file = FindFile(handle);
    if (!file) return FALSE;
    fsync(file->fd);
    return TRUE;
}

BOOL GetFileSizeEx(HANDLE handle, PLARGE_INTEGER size)
{
    auto file = FindFile(handle);
    if (!file) return FALSE;
    struct stat info
    {
    };
    if (!size || fstat(file->fd, &info) != 0)
    {
        SetLastError(size ? ErrorFromErrno(errno) : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    size->QuadPart = info.st_size;
    return TRUE;
}

DWORD GetFileSize(HANDLE handle, LPDWORD sizeHigh)
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle, &size)) return INVALID_FILE_SIZE;
    if (sizeHigh) *sizeHigh = static_cast<DWORD>(size.QuadPart >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size.QuadPart);
}

BOOL DeleteFileA(LPCSTR path)
{
    if (!path || !*path)
    {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    std::string resolved = ferolt::win32::ResolvePath(path);
    struct stat info
    {
    };
    if (lstat(resolved.c_str(), &info) != 0)
    {
        FailWithErrno(errno, resolved);
        return FALSE;
    }
    if (S_ISDIR(info.st_mode))
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (unlink(resolved.c_str()) != 0)
    {
        FailWithErrno(errno, resolved);
        return FALSE;
    }
    return TRUE;
}

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES)
{
    if (!path || !*path)
    {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    std::string resolved = ferolt::win32::ResolvePath(path);
    if (mkdir(resolved.c_str(), 0777) != 0)
    {
        SetLastError(errno == EEXIST   ? ERROR_ALREADY_EXISTS
                     : errno == ENOENT ? ERROR_PATH_NOT_FOUND
                                       : ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR path)
{
    if (!path || !*path)
    {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    std::string resolved = ferolt::win32::ResolvePath(path);
    if (rmdir(resolved.c_str()) != 0)
    {
        SetLastError(errno == ENOTDIR ? ERROR_DIRECTORY : ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL MoveFileA(LPCSTR from, LPCSTR to)
{
    if (!from || !to)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string source = ferolt::win32::ResolvePath(from);
    std::string target = ferolt::win32::ResolvePath(to);
    if (!Exists(source))
    {
        SetLastError(MissingError(source));
        return FALSE;
    }
    if (Exists(target))
    {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    if (rename(source.c_str(), target.c_str()) != 0)
    {
        SetLastError(ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists)
{
    HANDLE source = CreateFileA(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (source == INVALID_HANDLE_VALUE) return FALSE;
    HANDLE target =
        CreateFileA(to, GENERIC_WRITE, 0, nullptr, failIfExists ? CREATE_NEW : CREATE_ALWAYS, 0, nullptr);
    if (target == INVALID_HANDLE_VALUE)
    {
        DWORD error = GetLastError();
        CloseHandle(source);
        SetLastError(error);
        return FALSE;
    }
    std::vector<char> buffer(1 << 16);
    BOOL ok = TRUE;
    for (;;)
    {
        DWORD got = 0;
        if (!ReadFile(source, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
        {
            ok = FALSE;
            break;
        }
        if (got == 0) break;
        DWORD put = 0;
        if (!WriteFile(target, buffer.data(), got, &put, nullptr))
        {
            ok = FALSE;
            break;
        }
    }
    DWORD error = GetLastError();
    CloseHandle(source);
    CloseHandle(target);
    SetLastError(ok ? ERROR_SUCCESS : error);
    return ok;
}

DWORD GetFileAttributesA(LPCSTR path)
{
    if (!path || !*path)
    {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    std::string resolved = ferolt::win32::ResolvePath(path);
    struct stat info
    {
    };
    if (stat(resolved.c_str(), &info) != 0)
    {
        FailWithErrno(errno, resolved);
        return INVALID_FILE_ATTRIBUTES;
    }
    size_t slash = resolved.find_last_of('/', resolved.size() > 1 ? resolved.size() - 2 : 0);
    const char* name = slash == std::string::npos ? resolved.c_str() : resolved.c_str() + slash + 1;
    return AttributesOf(name, info);
}

DWORD GetCurrentDirectoryA(DWORD bufferLength, LPSTR buffer)
{
    std::vector<char> path(4096);
    if (!getcwd(path.data(), path.size()))
    {
        SetLastError(ErrorFromErrno(errno));
        return 0;
    }
    size_t length = strlen(path.data());
    if (!buffer || length + 1 > bufferLength) return static_cast<DWORD>(length + 1);
    memcpy(buffer, path.data(), length + 1);
    return static_cast<DWORD>(length);
}

BOOL SetCurrentDirectoryA(LPCSTR path)
{
    if (!path || !*path)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string resolved = ferolt::win32::ResolvePath(path);
    if (chdir(resolved.c_str()) != 0)
    {
        SetLastError(errno == ENOTDIR  ? ERROR_DIRECTORY
                     : errno == ENOENT ? MissingError(resolved)
                                       : ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

DWORD GetTempPathA(DWORD bufferLength, LPSTR buffer)
{
    const char* tmp = getenv("TMPDIR");
    std::string path = tmp && *tmp && IsDirectory(tmp) ? tmp : "/tmp";
    if (path.back() != '/') path += '/';
    if (!buffer || path.size() + 1 > bufferLength) return static_cast<DWORD>(path.size() + 1);
    memcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

UINT GetTempFileNameA(LPCSTR pathName, LPCSTR prefix, UINT unique, LPSTR tempFileName)
{
    if (!pathName || !tempFileName)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string directory = pathName;
    if (!directory.empty() && directory.back() != '/' && directory.back() != '\\')
        directory += (directory.find('/') == std::string::npos && directory.find('\\') != std::string::npos)
                         ? '\\'
                         : '/';
    std::string start = directory + std::string(prefix ? prefix : "").substr(0, 3);
    if (!IsDirectory(ferolt::win32::ResolvePath(directory.empty() ? "." : directory.c_str())))
    {
        SetLastError(ERROR_DIRECTORY);
        return 0;
    }
    auto compose = [&](UINT number)
    {
        char hex[8];
        snprintf(hex, sizeof(hex), "%X", number & 0xFFFFu);
        return start + hex + ".tmp";
    };
    if (start.size() + 4 + 4 + 1 > MAX_PATH)
    {
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return 0;
    }
    if (unique != 0)
    {
        std::string name = compose(unique);
        memcpy(tempFileName, name.c_str(), name.size() + 1);
        return unique & 0xFFFFu;
    }
    UINT number = ((GetTickCount() ^ static_cast<UINT>(getpid()) * 40503u) & 0xFFFFu) | 1u;
    for (int attempt = 0; attempt < 0xFFFF; ++attempt, number = (number % 0xFFFFu) + 1u)
    {
        std::string name = compose(number);
        std::string resolved = ferolt::win32::ResolvePath(name.c_str());
        int fd = open(resolved.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0)
        {
            close(fd);
            memcpy(tempFileName, name.c_str(), name.size() + 1);
            return number;
        }
        if (errno != EEXIST)
        {
            FailWithErrno(errno, resolved);
            return 0;
        }
    }
    SetLastError(ERROR_FILE_EXISTS);
    return 0;
}

// ---------------------------------------------------------------------------------------------------
// Mappings

HANDLE CreateFileMappingA(HANDLE handle, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCSTR)
{
    auto file = FindFile(handle);
    if (!file) return nullptr;
    if ((protect & 0xFFu) != PAGE_READONLY)
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    if ((fcntl(file->fd, F_GETFL) & O_ACCMODE) == O_WRONLY)
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    struct stat info
    {
    };
    if (fstat(file->fd, &info) != 0)
    {
        SetLastError(ErrorFromErrno(errno));
        return nullptr;
    }
    uint64_t size = (static_cast<uint64_t>(maximumSizeHigh) << 32) | maximumSizeLow;
    if (size == 0) size = static_cast<uint64_t>(info.st_size);
    if (size == 0)
    {
        SetLastError(ERROR_FILE_INVALID);
        return nullptr;
    }
    if (size > static_cast<uint64_t>(info.st_size)) // a read-only mapping cannot grow its file
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    auto mapping = std::make_shared<MappingObject>();
    mapping->fd = fcntl(file->fd, F_DUPFD_CLOEXEC, 0);
    if (mapping->fd < 0)
    {
        SetLastError(ErrorFromErrno(errno));
        return nullptr;
    }
    mapping->size = size;
    SetLastError(ERROR_SUCCESS);
    return AddObject(std::move(mapping));
}

LPVOID MapViewOfFile(HANDLE handle, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes)
{
    auto mapping = FindObjectOf<MappingObject>(handle, ObjectKind::Mapping);
    if (!mapping)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if ((access & FILE_MAP_WRITE) || !(access & (FILE_MAP_READ | FILE_MAP_COPY)))
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    uint64_t offset = (static_cast<uint64_t>(offsetHigh) << 32) | offsetLow;
    if (offset % 65536u != 0) // the original's allocation granularity
    {
        SetLastError(ERROR_MAPPED_ALIGNMENT);
        return nullptr;
    }
    if (offset >= mapping->size || (bytes != 0 && bytes > mapping->size - offset))
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    size_t length = bytes != 0 ? bytes : static_cast<size_t>(mapping->size - offset);
    void* base = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, mapping->fd, static_cast<off_t>(offset));
    if (base == MAP_FAILED)
    {
        SetLastError(ErrorFromErrno(errno));
        return nullptr;
    }
    ViewTable& views = Views();
    std::lock_guard lock(views.mutex);
    views.views[reinterpret_cast<uintptr_t>(base)] = length;
    return base;
}

BOOL UnmapViewOfFile(LPCVOID base)
{
    size_t length = 0;
    {
        ViewTable& views = Views();
        std::lock_guard lock(views.mutex);
        auto it = views.views.find(reinterpret_cast<uintptr_t>(base));
        if (it == views.views.end())
        {
            SetLastError(487); // ERROR_INVALID_ADDRESS
            return FALSE;
        }
        length = it->second;
        views.views.erase(it);
    }
    munmap(const_cast<void*>(base), length);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------------
// Directory search

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data)
{
    if (!pattern || !data)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string text(pattern);
    size_t slash = text.find_last_of("/\\");
    std::string directoryPart = slash == std::string::npos ? "." : text.substr(0, slash + 1);
    std::string namePattern = slash == std::string::npos ? text : text.substr(slash + 1);
    if (directoryPart.size() == 2 && directoryPart[1] == ':') directoryPart += '/';
    std::string directory = ferolt::win32::ResolvePath(directoryPart.c_str());
    DIR* dir = opendir(directory.c_str());
    if (!dir)
    {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    auto find = std::make_shared<FindSearch>();
    if (!namePattern.empty())
    {
        while (dirent* entry = readdir(dir))
        {
            size_t length = strlen(entry->d_name);
            if (length >= MAX_PATH || !ferolt::win32::MatchWildcard(namePattern.c_str(), entry->d_name))
                continue;
            struct stat info
            {
            };
            if (fstatat(dirfd(dir), entry->d_name, &info, 0) != 0 &&
                fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            WIN32_FIND_DATAA item{};
            item.dwFileAttributes = AttributesOf(entry->d_name, info);
            item.ftCreationTime = ToFileTime(info.st_ctim);
            item.ftLastAccessTime = ToFileTime(info.st_atim);
            item.ftLastWriteTime = ToFileTime(info.st_mtim);
            if (!S_ISDIR(info.st_mode))
            {
                item.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(info.st_size) >> 32);
                item.nFileSizeLow = static_cast<DWORD>(info.st_size);
            }
            memcpy(item.cFileName, entry->d_name, length + 1);
            find->items.push_back(item);
        }
    }
    closedir(dir);
    if (find->items.empty())
    {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // The original lists names in case-insensitive order on its usual file system.
    std::sort(find->items.begin(), find->items.end(),
              [](const WIN32_FIND_DATAA& a, const WIN32_FIND_DATAA& b)
              {
                  int folded = strcasecmp(a.cFileName, b.cFileName);
                  return folded != 0 ? folded < 0 : strcmp(a.cFileName, b.cFileName) < 0;
              });
    *data = find->items[0];
    find->next = 1;
    SetLastError(ERROR_SUCCESS);
    return AddObject(std::move(find));
}

BOOL FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA data)
{
    auto find = FindObjectOf<FindSearch>(handle, ObjectKind::Find);
    if (!find)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!data)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (find->next >= find->items.size())
    {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *data = find->items[find->next++];
    return TRUE;
}

BOOL FindClose(HANDLE handle)
{
    if (!FindObjectOf<FindSearch>(handle, ObjectKind::Find))
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return CloseHandle(handle);
}
