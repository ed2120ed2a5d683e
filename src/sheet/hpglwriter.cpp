// The HPGL writer: one command per line, CR LF, saved atomically.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "hpglsheet.h"

namespace {

// Buffered writes to a descriptor; the first failure sticks and stops further writes.
class TOut {
public:
    explicit TOut(int fd) : Fd(fd) {}
    int Error = 0;

    void Put(const char* s, std::size_t n)
    {
        if (Used + n > sizeof Buffer)
            Flush();
        std::memcpy(Buffer + Used, s, n);
        Used += n;
    }
    void Number(std::int32_t v)
    {
        char digits[16];
        digits[0] = ' ';
        auto end = std::to_chars(digits + 1, digits + sizeof digits, v).ptr;
        Put(digits, static_cast<std::size_t>(end - digits));
    }
    void Flush()
    {
        std::size_t off = 0;
        while (off < Used && Error == 0) {
            ssize_t n = ::write(Fd, Buffer + off, Used - off);
            if (n > 0)
                off += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EINTR)
                Error = errno;
            else if (n == 0)
                Error = EIO;
        }
        Used = 0;
    }

private:
    int Fd;
    std::size_t Used = 0;
    char Buffer[1 << 16];
};

// Where the data must land: a symbolic link is replaced through, not over.
std::string Target(const std::string& fileName)
{
    struct stat st {};
    if (::lstat(fileName.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(fileName.c_str(), nullptr)) {
            std::string r = real;
            std::free(real);
            return r;
        }
    }
    return fileName;
}

}  // namespace

namespace {

void WriteObjects(const THpglObject* first, TOut& out)
{
    for (const THpglObject* o = first; o; o = o->Next) {
        const char* m = HpglMnemonic(o->Kind);
        if (!m)
            continue;
        out.Put(m, 2);
        switch (o->Kind) {
        case hkSP:
        case hkCI:
            out.Number(o->P1);
            break;
        case hkAA:
            out.Number(o->P1);
            out.Number(o->P2);
            out.Number(o->P3);
            break;
        case hkER:
            out.Number(o->P1);
            out.Number(o->P2);
            break;
        default:
            if (o->ParamCount == 2) {
                out.Number(o->P1);
                out.Number(o->P2);
            }
            break;
        }
        out.Put("\r\n", 2);
    }
    out.Flush();
}

// A device or pipe (say /dev/stdout) holds no previous file to protect and cannot be
// replaced by a rename: it is written in place.
TFileResult WriteInPlace(const THpglObject* first, const std::string& target)
{
    int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return TFileResult::FromErrno(errno);
    auto out = std::make_unique<TOut>(fd);
    WriteObjects(first, *out);
    int error = out->Error;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    return error ? TFileResult::FromErrno(error) : TFileResult{};
}

}  // namespace

TFileResult THpglSheet::SaveToFile(const std::string& fileName) const
{
    const std::string target = Target(fileName);
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return TFileResult::FromErrno(EISDIR);
    if (exists && !S_ISREG(st.st_mode))
        return WriteInPlace(First, target);
    // A file the user may not write stays as it is, even though the folder would let us
    // replace it.
    if (exists && ::access(target.c_str(), W_OK) != 0)
        return TFileResult::FromErrno(errno);

    const auto slash = target.rfind('/');
    std::string temp = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + ".grafonel-XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return TFileResult::FromErrno(errno);

    mode_t mode;
    if (exists) {
        mode = st.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    auto out = std::make_unique<TOut>(fd);
    WriteObjects(First, *out);
    int error = out->Error;
    if (error == 0 && ::fchmod(fd, mode) != 0)
        error = errno;
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return TFileResult::FromErrno(error);
    }
    return {};
}
