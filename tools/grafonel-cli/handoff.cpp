#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "cli.h"

namespace cli {

namespace {

std::vector<std::string> commandLine;

bool Executable(const std::string& path)
{
    return ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

void RememberCommandLine(int argc, char** argv)
{
    commandLine.assign(argv, argv + argc);
}

std::string RunQtBuild()
{
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return std::string("cannot find this program's folder: ") + std::strerror(errno);
    std::string dir(self, static_cast<std::size_t>(n));
    dir.erase(dir.rfind('/'));
    // Beside this program in the build tree, in its private folder once installed.
    std::string path = dir + "/grafonel-cli-qt";
    if (!Executable(path))
        path = dir + "/" GRAFONEL_QT_BUILD_FOLDER "/grafonel-cli-qt";
    std::vector<std::string> words = commandLine;
    words.at(0) = path;
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    ::execv(path.c_str(), argv.data());
    return "this needs '" + path + "': " + std::strerror(errno);
}

std::vector<Command> RenderCommands()
{
    return {RenderCommand([](const std::vector<std::string>&) { return Fail("render: " + RunQtBuild()); })};
}

}  // namespace cli
