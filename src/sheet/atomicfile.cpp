#include "sheet/atomicfile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "base/posixio.h"

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
        const ssize_t n = posixio::RetryEintr([&] { return ::write(Fd, Buffer + off, Used - off); });
        if (n > 0)
            off += static_cast<std::size_t>(n);
        else if (n < 0)
            Error = errno;
        else if (n == 0)
            Error = EIO;
    }
    Used = 0;
}

namespace {

using posixio::RetryEintr;
using posixio::TFd;

// The first error of a write sequence: the one so far, else what closing reports.
int CloseKeepingFirst(TFd& fd, int error)
{
    const int closed = fd.Close();
    return error != 0 ? error : closed;
}

// Syncs the data to the disk before closing, where a rename or a rewrite depends on it.
int SyncAndClose(TFd& fd, int error)
{
    if (error == 0 && ::fsync(fd.Get()) != 0)
        error = errno;
    return CloseKeepingFirst(fd, error);
}

std::string Folder(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Where the data must land: a symbolic link is saved through to its target, also a target
// that does not exist yet. Returns false with errno set when the links loop.
bool Target(const std::string& fileName, std::string& target)
{
    target = fileName;
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return true;
        if (hops == 40) {
            errno = ELOOP;
            return false;
        }
        std::vector<char> link(static_cast<std::size_t>(std::max<off_t>(st.st_size, PATH_MAX)) + 1);
        const ssize_t n = ::readlink(target.c_str(), link.data(), link.size() - 1);
        if (n < 0)
            return false;
        std::string next(link.data(), static_cast<std::size_t>(n));
        target = next.starts_with('/') ? next : Folder(target) + "/" + next;
    }
}

// Streams into a file that cannot be replaced by renaming, a device or a pipe.
TFileResult StreamInPlace(const std::string& target, const std::function<void(TBufferedOut&)>& body)
{
    TFd fd(::open(target.c_str(), O_WRONLY | O_CLOEXEC));
    if (fd.Get() < 0)
        return TFileResult::FromErrno(errno);
    auto out = std::make_unique<TBufferedOut>(fd.Get());
    body(*out);
    out->Flush();
    const int error = CloseKeepingFirst(fd, out->Error);
    return error ? TFileResult::FromErrno(error) : TFileResult{};
}

// An unnamed scratch file for the whole text: in memory where the system offers it.
int ScratchFile()
{
    int fd = ::memfd_create("grafonel-save", MFD_CLOEXEC);
    if (fd >= 0)
        return fd;
    const char* dir = std::getenv("TMPDIR");
    return ::open(dir && *dir ? dir : "/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

int WriteAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = RetryEintr([&] { return ::write(fd, data, size); });
        if (n <= 0)
            return n < 0 ? errno : EIO;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

// Overwrites a regular file that must keep its identity (its inode: hard links, owner,
// a folder we may not write). The text is complete in a scratch file and the space for it
// reserved before the first byte of the old file changes, so that a failure up to then
// leaves it whole.
TFileResult RewriteInPlace(const std::string& target, const std::function<void(TBufferedOut&)>& body)
{
    TFd file(::open(target.c_str(), O_WRONLY | O_CLOEXEC));
    if (file.Get() < 0)
        return TFileResult::FromErrno(errno);
    TFd scratch(ScratchFile());
    if (scratch.Get() < 0)
        return TFileResult::FromErrno(errno);
    auto out = std::make_unique<TBufferedOut>(scratch.Get());
    body(*out);
    out->Flush();
    if (out->Error != 0)
        return TFileResult::FromErrno(out->Error);
    struct stat st {};
    if (::fstat(scratch.Get(), &st) != 0)
        return TFileResult::FromErrno(errno);
    const off_t size = st.st_size;
    if (size > 0 && ::fallocate(file.Get(), FALLOC_FL_KEEP_SIZE, 0, size) != 0 && errno != EOPNOTSUPP &&
        errno != ENOSYS)
        return TFileResult::FromErrno(errno);

    // Over the old bytes first, then cut what is left of a longer old text.
    int error = 0;
    std::vector<char> buffer(1 << 16);
    for (off_t at = 0; at < size && error == 0;) {
        const ssize_t n = RetryEintr([&] { return ::pread(scratch.Get(), buffer.data(), buffer.size(), at); });
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        error = WriteAll(file.Get(), buffer.data(), static_cast<std::size_t>(n));
        at += n;
    }
    if (error == 0 && ::ftruncate(file.Get(), size) != 0)
        error = errno;
    error = SyncAndClose(file, error);
    return error ? TFileResult::FromErrno(error) : TFileResult{};
}

// Extended attributes (ACLs among them) travel with the text where the system lets them;
// one that cannot be set is left behind rather than failing the save.
void CopyAttributes(const std::string& from, int to)
{
    ssize_t size = ::listxattr(from.c_str(), nullptr, 0);
    if (size <= 0)
        return;
    std::vector<char> names(static_cast<std::size_t>(size));
    size = ::listxattr(from.c_str(), names.data(), names.size());
    if (size <= 0)
        return;
    std::vector<char> value;
    for (const char* name = names.data(); name < names.data() + size; name += std::strlen(name) + 1) {
        const ssize_t n = ::getxattr(from.c_str(), name, nullptr, 0);
        if (n < 0)
            continue;
        value.resize(static_cast<std::size_t>(n));
        const ssize_t got = ::getxattr(from.c_str(), name, value.data(), value.size());
        if (got >= 0)
            ::fsetxattr(to, name, value.data(), static_cast<std::size_t>(got), 0);
    }
}

enum class TReplace { Done, InPlace };

// The atomic way: a temporary file beside the target, renamed over it once every byte is
// synced. It is only taken when the new file can be the old one in all but its inode; when
// it cannot, the caller rewrites the old file instead.
TReplace Replace(const std::string& target, const struct stat* old, const std::function<void(TBufferedOut&)>& body,
                 TFileResult& result)
{
    std::string temp = Folder(target) + "/.grafonel-XXXXXX";
    TFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.Get() < 0) {
        if (old && (errno == EACCES || errno == EPERM))
            return TReplace::InPlace;
        result = TFileResult::FromErrno(errno);
        return TReplace::Done;
    }
    struct TUnlink {
        const std::string& Path;
        bool Armed = true;
        ~TUnlink()
        {
            if (Armed)
                ::unlink(Path.c_str());
        }
    } unlinkTemp{temp};

    mode_t mode;
    if (old) {
        // The owner and group first: changing them may clear set-id bits, which the mode
        // then restores.
        if (::fchown(fd.Get(), old->st_uid, old->st_gid) != 0)
            return TReplace::InPlace;
        CopyAttributes(target, fd.Get());
        mode = old->st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    auto out = std::make_unique<TBufferedOut>(fd.Get());
    body(*out);
    out->Flush();
    int error = out->Error;
    if (error == 0 && ::fchmod(fd.Get(), mode) != 0)
        error = errno;
    error = SyncAndClose(fd, error);
    if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0)
        error = errno;
    if (error != 0) {
        result = TFileResult::FromErrno(error);
        return TReplace::Done;
    }
    unlinkTemp.Armed = false;
    // The rename itself lasts once the folder is synced; a folder that refuses changes nothing.
    TFd folder(::open(Folder(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() >= 0)
        ::fsync(folder.Get());
    result = {};
    return TReplace::Done;
}

}  // namespace

TFileResult WriteFileAtomically(const std::string& fileName, const std::function<void(TBufferedOut&)>& body)
{
    std::string target;
    if (!Target(fileName, target))
        return TFileResult::FromErrno(errno);
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return TFileResult::FromErrno(EISDIR);
    if (exists && !S_ISREG(st.st_mode))
        return StreamInPlace(target, body);
    // A file the user may not write stays as it is, even though the folder would let us
    // replace it.
    if (exists && ::access(target.c_str(), W_OK) != 0)
        return TFileResult::FromErrno(errno);
    // Other names of the file see the new text only if the file itself is rewritten.
    if (exists && st.st_nlink > 1)
        return RewriteInPlace(target, body);
    TFileResult result;
    if (Replace(target, exists ? &st : nullptr, body, result) == TReplace::InPlace)
        return RewriteInPlace(target, body);
    return result;
}
