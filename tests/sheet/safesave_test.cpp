// Saving over an existing file keeps that file: its other names, its owner, its attributes,
// the link that leads to it, and its old text when the save fails before writing.
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "sheet/hpglsheet.h"
#include "testfiles.h"

namespace {

constexpr uid_t kNobody = 65534;

THpglSheet& Drawing()
{
    static THpglSheet s;
    if (s.Count() == 0) {
        s.Add(hkPA, 10, 20);
        s.Add(hkPD, 30, 40);
    }
    return s;
}
const std::string kSaved = "PA 10 20\r\nPD 30 40\r\n";

struct stat Stat(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

// Runs a save as an unprivileged user: directly when the tests already run as one, else in a
// child process that has dropped to nobody. Returns the save's errno value, 0 on success.
int SaveAsUser(const std::string& path)
{
    if (::geteuid() != 0)
        return Drawing().SaveToFile(path).ErrorCode;
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(254);
        ::_exit(Drawing().SaveToFile(path).ErrorCode & 0xff);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

std::size_t Entries(const std::string& dir)
{
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

// A folder that a user who is not root can reach: the scratch folder itself is private.
struct SharedDir : testfiles::TempDir {
    SharedDir() { ::chmod(Path.c_str(), 0755); }
};

}  // namespace

TEST(SafeSave, HardLinkedFileIsRewrittenSoEveryNameSeesTheNewText)
{
    testfiles::TempDir dir;
    const std::string a = dir.Write("a.plt", "old text that is longer than the new one\r\n");
    const std::string b = dir.File("b.plt");
    ASSERT_EQ(::link(a.c_str(), b.c_str()), 0);
    const ino_t inode = Stat(a).st_ino;

    ASSERT_TRUE(Drawing().SaveToFile(a).Ok());
    EXPECT_EQ(testfiles::ReadAll(a), kSaved);
    EXPECT_EQ(testfiles::ReadAll(b), kSaved);
    EXPECT_EQ(Stat(a).st_ino, inode);
    EXPECT_EQ(Stat(b).st_nlink, 2u);
    EXPECT_EQ(Entries(dir.Path), 2u);
}

TEST(SafeSave, FullDiskLeavesTheOldFileWholeUnderEveryName)
{
    THpglSheet big;
    for (int i = 0; i < 20000; ++i)
        big.Add(hkPA, i, i);
    // Replaced through a temporary file (one name) and rewritten in place (two names): in both
    // the text is whole elsewhere before the old file is touched, so the failure comes first.
    for (bool linked : {false, true}) {
        testfiles::TempDir dir;
        const std::string old(100000, 'x');
        const std::string a = dir.Write("a.plt", old);
        const std::string b = dir.File("b.plt");
        if (linked) {
            ASSERT_EQ(::link(a.c_str(), b.c_str()), 0);
        }
        TFileResult r;
        {
            testfiles::FileSizeLimit limit(4096);  // every write past 4 KiB fails
            ASSERT_TRUE(limit.Active);
            r = big.SaveToFile(a);
        }
        EXPECT_EQ(r.ErrorCode, EFBIG) << linked;
        EXPECT_EQ(testfiles::ReadAll(a), old) << linked;
        if (linked) {
            EXPECT_EQ(testfiles::ReadAll(b), old);
        }
        EXPECT_EQ(Entries(dir.Path), linked ? 2u : 1u);
    }
}

TEST(SafeSave, SymbolicLinksAreFollowedToTheFileTheyName)
{
    testfiles::TempDir dir;
    std::filesystem::create_directory(dir.File("real"));
    const std::string target = dir.Write("real/t.plt", "old");
    const std::string link = dir.File("link.plt");
    const std::string chain = dir.File("chain.plt");
    ASSERT_EQ(::symlink("real/t.plt", link.c_str()), 0);  // relative to the link's folder
    ASSERT_EQ(::symlink(link.c_str(), chain.c_str()), 0);

    ASSERT_TRUE(Drawing().SaveToFile(chain).Ok());
    EXPECT_TRUE(S_ISLNK(Stat(link).st_mode));
    EXPECT_TRUE(S_ISLNK(Stat(chain).st_mode));
    EXPECT_EQ(testfiles::ReadAll(target), kSaved);

    // A link to a file not there yet creates it where the link points.
    const std::string dangling = dir.File("new.plt");
    ASSERT_EQ(::symlink("real/fresh.plt", dangling.c_str()), 0);
    ASSERT_TRUE(Drawing().SaveToFile(dangling).Ok());
    EXPECT_TRUE(S_ISLNK(Stat(dangling).st_mode));
    EXPECT_EQ(testfiles::ReadAll(dir.File("real/fresh.plt")), kSaved);

    // Links that lead round in a circle are an error, and nothing is written.
    const std::string loop1 = dir.File("loop1"), loop2 = dir.File("loop2");
    ASSERT_EQ(::symlink(loop2.c_str(), loop1.c_str()), 0);
    ASSERT_EQ(::symlink(loop1.c_str(), loop2.c_str()), 0);
    EXPECT_EQ(Drawing().SaveToFile(loop1).ErrorCode, ELOOP);
    EXPECT_EQ(Entries(dir.Path), 6u);
    EXPECT_EQ(Entries(dir.File("real")), 2u);
}

TEST(SafeSave, WritableFileInAFolderTheUserCannotWriteIsSavedInPlace)
{
    SharedDir dir;
    const std::string f = dir.Write("keep.plt", "precious old text");
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(f.c_str(), kNobody, kNobody), 0);  // root's folder, nobody's file
    }
    ASSERT_EQ(::chmod(dir.Path.c_str(), 0555), 0);
    const ino_t inode = Stat(f).st_ino;

    EXPECT_EQ(SaveAsUser(f), 0);
    EXPECT_EQ(testfiles::ReadAll(f), kSaved);
    EXPECT_EQ(Stat(f).st_ino, inode);
    EXPECT_EQ(Entries(dir.Path), 1u);

    // A file the user may not write is refused, and stays as it was.
    ASSERT_EQ(::chmod(dir.Path.c_str(), 0755), 0);
    const std::string locked = dir.Write("locked.plt", "locked");
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(locked.c_str(), kNobody, kNobody), 0);
    }
    ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
    EXPECT_EQ(SaveAsUser(locked), EACCES);
    EXPECT_EQ(testfiles::ReadAll(locked), "locked");
}

TEST(SafeSave, OwnerAndGroupAreKept)
{
    SharedDir dir;
    const std::string f = dir.Write("owned.plt", "old");
    if (::geteuid() == 0) {
        // Root can hand the new file to the old owner: the atomic replacement keeps it.
        ASSERT_EQ(::chown(f.c_str(), kNobody, kNobody), 0);
        ASSERT_TRUE(Drawing().SaveToFile(f).Ok());
        EXPECT_EQ(Stat(f).st_uid, kNobody);
        EXPECT_EQ(Stat(f).st_gid, kNobody);
        EXPECT_EQ(testfiles::ReadAll(f), kSaved);

        // A user who may write root's file (and the folder) cannot give a new file to root:
        // the file is rewritten instead, and stays root's.
        const std::string shared = dir.Write("shared.plt", "old");
        ASSERT_EQ(::chmod(shared.c_str(), 0666), 0);
        ASSERT_EQ(::chmod(dir.Path.c_str(), 0777), 0);
        EXPECT_EQ(SaveAsUser(shared), 0);
        EXPECT_EQ(Stat(shared).st_uid, 0u);
        EXPECT_EQ(Stat(shared).st_gid, 0u);
        EXPECT_EQ((Stat(shared).st_mode & 0777), 0666u);
        EXPECT_EQ(testfiles::ReadAll(shared), kSaved);
        EXPECT_EQ(Entries(dir.Path), 2u);
    } else {
        const struct stat before = Stat(f);
        ASSERT_TRUE(Drawing().SaveToFile(f).Ok());
        EXPECT_EQ(Stat(f).st_uid, before.st_uid);
        EXPECT_EQ(Stat(f).st_gid, before.st_gid);
    }
}

TEST(SafeSave, ExtendedAttributesTravelWithTheReplacement)
{
    testfiles::TempDir dir;
    const std::string f = dir.Write("x.plt", "old");
    const char value[] = "blue pen";
    if (::setxattr(f.c_str(), "user.grafonel.note", value, sizeof value - 1, 0) != 0)
        GTEST_SKIP() << "no user attributes on this file system";
    ASSERT_TRUE(Drawing().SaveToFile(f).Ok());
    char got[32] = {};
    EXPECT_EQ(::getxattr(f.c_str(), "user.grafonel.note", got, sizeof got), static_cast<ssize_t>(sizeof value - 1));
    EXPECT_STREQ(got, value);
    EXPECT_EQ(testfiles::ReadAll(f), kSaved);
}
