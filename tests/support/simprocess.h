#pragma once
// Runs ostrel-sim as a child process: its first line is the line's path, its last the summary.

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/types.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "runcommand.h"

struct TSimProcess {
    FILE* Pipe = nullptr;
    std::string Path;
    std::string Output;

    pid_t Pid = -1;

    explicit TSimProcess(const std::string& args)
    {
        // The shell says its pid, then becomes the simulator: a test can end a simulator whose
        // sender never wrote (it waits for a first byte for good).
        Pipe = ::popen(("echo $$; exec " + std::string(OSTREL_SIM_PATH) + " " + args + " 2>/dev/null").c_str(), "r");
        if (!Pipe)
            return;
        char line[512];
        if (std::fgets(line, sizeof line, Pipe))
            Pid = static_cast<pid_t>(std::atol(line));
        if (std::fgets(line, sizeof line, Pipe)) {
            Path = line;
            while (!Path.empty() && (Path.back() == '\n' || Path.back() == '\r'))
                Path.pop_back();
        }
    }
    // Reads the simulator's lines until one holds text (a fault announced); false at its end.
    bool WaitFor(const std::string& text)
    {
        char line[512];
        while (Pipe && Output.find(text) == std::string::npos) {
            if (!std::fgets(line, sizeof line, Pipe))
                return false;
            Output += line;
        }
        return Pipe != nullptr;
    }
    // Whether a line holding text has come, without waiting for one.
    bool Saw(const std::string& text)
    {
        pollfd p{Pipe ? ::fileno(Pipe) : -1, POLLIN, 0};
        char line[512];
        while (Output.find(text) == std::string::npos && Pipe && ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
            if (!std::fgets(line, sizeof line, Pipe))
                break;
            Output += line;
        }
        return Output.find(text) != std::string::npos;
    }
    // Ends the simulation as Ctrl-C does (it still writes what it was asked to).
    void Terminate()
    {
        if (Pipe && Pid > 0)
            ::kill(Pid, SIGTERM);
    }
    // Waits for the end of the simulation; returns its exit status.
    int Wait()
    {
        if (!Pipe)
            return -1;
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, Pipe)) > 0)
            Output.append(buf, n);
        const int st = ::pclose(Pipe);
        Pipe = nullptr;
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    ~TSimProcess()
    {
        if (Pipe)
            Wait();
    }
    // A number from the summary line, found by the words that follow it.
    double Summary(const std::string& after) const
    {
        const auto at = Output.find(after);
        if (at == std::string::npos)
            return -1;
        std::size_t start = at;
        while (start > 0 && (std::isdigit(static_cast<unsigned char>(Output[start - 1])) || Output[start - 1] == '.'))
            --start;
        return std::atof(Output.substr(start, at - start).c_str());
    }
};
