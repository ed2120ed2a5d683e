// Feeds arbitrary bytes through the reader via a memory file, then walks the result the way
// the window does (count, extents) so that the sheet's invariants are checked on every input.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "sheet/hpglsheet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static int fd = ::memfd_create("fuzz-plot", 0);
    if (fd < 0)
        std::abort();
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);

    THpglSheet sheet;
    TFileResult r = sheet.LoadFromFile(path);
    if (!r.Ok())
        std::abort();
    int n = 0;
    const THpglObject* last = nullptr;
    for (const THpglObject* o = sheet.First; o; o = o->Next) {
        if (o->Kind < hkPU || o->Kind > hkER || o->ParamCount < 0 || o->ParamCount > 3)
            std::abort();
        last = o;
        ++n;
    }
    if (last != sheet.Last || n != sheet.Count() || static_cast<std::size_t>(n) > size / 2 + 1)
        std::abort();
    if (sheet.XMin > sheet.XMax || sheet.YMin > sheet.YMax)
        std::abort();
    return 0;
}
