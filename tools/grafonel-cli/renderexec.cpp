// The render command's entry in grafonel-cli. Drawing needs Qt, which costs every process
// that loads it several milliseconds and megabytes; so the drawing lives in the helper
// grafonel-cli-render beside this program, and only this command runs it.

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "cli.h"

namespace cli {

namespace {

int RunRenderHelper(const std::vector<std::string>& args)
{
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return Fail(std::string("render: cannot find this program's folder: ") + std::strerror(errno));
    std::string path(self, static_cast<std::size_t>(n));
    path = path.substr(0, path.rfind('/') + 1) + "grafonel-cli-render";
    std::vector<std::string> words = {path, "render"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    ::execv(path.c_str(), argv.data());
    return Fail("render needs '" + path + "': " + std::strerror(errno));
}

}  // namespace

std::vector<Command> RenderCommands()
{
    return {{"render", "render IN OUT.png|OUT.pdf [--size WxH]",
             "Draws IN as the window's view does: a white image of W x H pixels (default\n"
             "760x1080) with a black frame, the 1520 x 2160 frame mapped onto it, written as\n"
             "PNG. With a .pdf name, one A4 page with the frame stretched over its printable\n"
             "area, as printing does. OUT is replaced only when it was written whole.\n",
             RunRenderHelper}};
}

}  // namespace cli
