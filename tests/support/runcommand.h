#pragma once
// Runs a command line through the shell and captures its standard output and exit status.

#include <sys/wait.h>

#include <cstdio>
#include <string>

struct TRunResult {
    int Status = -1;
    std::string Out;
};

inline TRunResult RunCommand(const std::string& command)
{
    TRunResult r;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.Out.append(buf, n);
    int st = ::pclose(p);
    r.Status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

inline std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}
