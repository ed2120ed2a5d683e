#pragma once
// Scratch files and the shared sample plot files for tests.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testfiles {

// A folder of its own per test, removed afterwards.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "grafonel-test-XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (!::mkdtemp(buf.data()))
            throw std::runtime_error("mkdtemp failed");
        Path = buf.data();
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::permissions(Path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(Path, ec);
    }
    std::string File(const std::string& name) const { return (std::filesystem::path(Path) / name).string(); }
    std::string Write(const std::string& name, const std::string& content) const
    {
        std::string p = File(name);
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }
    std::string Path;
};

inline std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The public sample plot files, sorted by name; empty when the folder is not beside the clone.
inline std::vector<std::string> Samples()
{
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(GRAFONEL_SAMPLES_DIR, ec)) {
        std::string name = e.path().filename().string();
        if (e.is_regular_file() && name != "SOURCES.md" && name[0] != '.')
            files.push_back(e.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// While it lives, every write past `bytes` of a file fails with EFBIG, as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &Saved);
        OldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = Saved;
        small.rlim_cur = bytes;
        Active = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &Saved);
        std::signal(SIGXFSZ, OldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool Active = false;

private:
    struct rlimit Saved {};
    void (*OldHandler)(int) = nullptr;
};

#define REQUIRE_SAMPLES(files)                                                                                         \
    if ((files).empty())                                                                                               \
    GTEST_SKIP() << "sample plot files not found at " GRAFONEL_SAMPLES_DIR

}  // namespace testfiles
