// grafonel-cli: the sheet operations of the window, for scripts and batch work.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "hpglsheet.h"

namespace {

const char* const kUsage =
    "usage: grafonel-cli COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  info FILE      load FILE into an empty sheet and print the window's two status texts\n"
    "\n"
    "'grafonel-cli COMMAND --help' describes a command.\n";

const char* const kInfoHelp =
    "usage: grafonel-cli info FILE\n"
    "Loads FILE into an empty sheet and prints \"Objects: N\" and\n"
    "\"HPGL size: min=X,Y max=X,Y\", each on its own line.\n";

int Fail(const std::string& message)
{
    std::fprintf(stderr, "grafonel-cli: %s\n", message.c_str());
    return 1;
}

bool WantsHelp(const std::vector<std::string>& args)
{
    for (const auto& a : args)
        if (a == "--help" || a == "-h")
            return true;
    return false;
}

bool Load(THpglSheet& sheet, const std::string& file, std::string& error)
{
    TFileResult r = sheet.LoadFromFile(file);
    if (!r.Ok()) {
        error = "cannot read '" + file + "': " + r.Reason;
        return false;
    }
    return true;
}

int CmdInfo(const std::vector<std::string>& args)
{
    if (WantsHelp(args)) {
        std::fputs(kInfoHelp, stdout);
        return 0;
    }
    if (args.size() != 1)
        return Fail(std::string("info takes one file\n") + kInfoHelp);
    THpglSheet sheet;
    std::string error;
    if (!Load(sheet, args[0], error))
        return Fail(error);
    std::printf("Objects: %d\n", sheet.Count());
    std::printf("HPGL size: min=%d,%d max=%d,%d\n", sheet.XMin, sheet.YMin, sheet.XMax, sheet.YMax);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Fail(std::string("no command given\n") + kUsage);
    std::string command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "info")
        return CmdInfo(args);
    return Fail("unknown command '" + command + "'\n" + kUsage);
}
