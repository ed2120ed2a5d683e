#include "sheet/atomicfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

void TBufferedOut::Put(const char* s, std::size_t n)
{
    while (n > 0) {
        if (Used == sizeof Buffer)
            Flush();
        std::size_t k = std::min(n, sizeof Buffer - Used);
        std::memcpy(Buffer + Used, s, k);
        Used += k;
        s += k;
        n -= k;
    }
}

void TBufferedOut::Flush()
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

namespace {

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

TFileResult WriteInPlace(const std::string& target, const std::function<void(TBufferedOut&)>& body)
{
    int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return TFileResult::FromErrno(errno);
    auto out = std::make_unique<TBufferedOut>(fd);
    body(*out);
    out->Flush();
    int error = out->Error;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    return error ? TFileResult::FromErrno(error) : TFileResult{};
}

}  // namespace

TFileResult WriteFileAtomically(const std::string& fileName, const std::function<void(TBufferedOut&)>& body)
{
    const std::string target = Target(fileName);
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return TFileResult::FromErrno(EISDIR);
    if (exists && !S_ISREG(st.st_mode))
        return WriteInPlace(target, body);
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

    auto out = std::make_unique<TBufferedOut>(fd);
    body(*out);
    out->Flush();
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
