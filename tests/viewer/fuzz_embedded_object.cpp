// Fuzzes the footer of an object file appended to the executable: the input is the whole program
// file, written out and handed to the extraction, whose copy (when one is made) is removed again.
#include "platform/win32/winbase.h"
#include "viewer/viewer_app.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = "/tmp/fuzz_embedded_object_" + std::to_string(getpid());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    CString copy;
    if (ExtractEmbeddedObject(CString(path.c_str()), copy)) ::DeleteFileA(copy);
    std::remove(path.c_str());
    return 0;
}
