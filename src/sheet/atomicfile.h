#pragma once
// Files written whole or not at all, keeping the file they replace: the data goes to a
// temporary file in the target's folder, which replaces the target only after every byte was
// written and synced; where that would change the file's identity, the old file is rewritten
// once the whole text is ready.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "sheet/hpglsheet.h"

// Buffered writes to a descriptor; the first failure sticks and stops further writes.
class TBufferedOut {
public:
    explicit TBufferedOut(int fd) : Fd(fd) {}
    TBufferedOut(const TBufferedOut&) = delete;
    TBufferedOut& operator=(const TBufferedOut&) = delete;

    int Error = 0;  // errno of the first failed write

    void Put(const char* s, std::size_t n);
    void Put(const std::string& s) { Put(s.data(), s.size()); }
    void Flush();

private:
    int Fd;
    std::size_t Used = 0;
    char Buffer[1 << 16];
};

// Writes through body() into fileName, or into the file a symbolic link there leads to.
// A device or pipe (say /dev/stdout) holds no file to protect and cannot be renamed over: it
// is written in place. A regular file is replaced atomically when the new file keeps its mode,
// owner, group and (as far as the system lets) extended attributes. A file with other hard
// links, in a folder the user may not write, or whose owner could not be kept, is rewritten
// in place instead, after the text is complete in a scratch file and its space reserved, so a
// failure before that write leaves it whole. A file the user may not write is refused untouched.
TFileResult WriteFileAtomically(const std::string& fileName, const std::function<void(TBufferedOut&)>& body);
