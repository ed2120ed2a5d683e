#pragma once
// Runs a program as a child whose id the test knows, so it can be signalled (Ctrl-C, SIGTERM)
// while it runs; its standard output and error go to one file read at the end.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

struct TChildProcess {
    pid_t Pid = -1;
    std::string OutputFile;
    int Status = -1;
    std::chrono::steady_clock::time_point Ended{};
    rusage Usage{};

    TChildProcess(const std::vector<std::string>& argv, const std::string& outputFile) : OutputFile(outputFile)
    {
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        Pid = ::fork();
        if (Pid == 0) {
            const int fd = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
    }
    ~TChildProcess()
    {
        if (Pid > 0 && Status < 0) {
            ::kill(Pid, SIGKILL);
            Wait();
        }
    }
    // Sends a signal and waits until the child has taken it: two signals sent back to back
    // would otherwise merge into one while the first still waits, as a user's two presses of
    // Ctrl-C never do.
    void Signal(int sig) const
    {
        if (Pid <= 0 || ::kill(Pid, sig) != 0)
            return;
        const auto give = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (Pending(sig) && std::chrono::steady_clock::now() < give)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // Whether a signal sent to the process waits for delivery.
    bool Pending(int sig) const { return StatusBit("ShdPnd:", sig); }
    // Whether the process has a handler in place for the signal.
    bool Catches(int sig) const { return StatusBit("SigCgt:", sig); }
    // A signal's bit in one of the signal masks of /proc/PID/status.
    bool StatusBit(const std::string& mask, int sig) const
    {
        std::ifstream f("/proc/" + std::to_string(Pid) + "/status");
        std::string line;
        while (std::getline(f, line)) {
            if (line.rfind(mask, 0) == 0)
                return (std::stoull(line.substr(mask.size()), nullptr, 16) >> (sig - 1)) & 1;
        }
        return false;
    }
    // Waits for the end; the exit status, or -1 when it did not exit on its own.
    int Wait()
    {
        int st = 0;
        if (Status < 0 && ::wait4(Pid, &st, 0, &Usage) == Pid) {
            Ended = std::chrono::steady_clock::now();
            Status = WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + (WIFSIGNALED(st) ? WTERMSIG(st) : 0);
        }
        return Status;
    }
    // Whether it has ended, without waiting.
    bool Done()
    {
        if (Status >= 0)
            return true;
        int st = 0;
        if (::wait4(Pid, &st, WNOHANG, &Usage) == Pid) {
            Ended = std::chrono::steady_clock::now();
            Status = WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + (WIFSIGNALED(st) ? WTERMSIG(st) : 0);
            return true;
        }
        return false;
    }
    std::string Output() const
    {
        std::ifstream f(OutputFile);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
    // Processor seconds it used, once it has ended.
    double CpuSeconds() const
    {
        return static_cast<double>(Usage.ru_utime.tv_sec + Usage.ru_stime.tv_sec) +
               static_cast<double>(Usage.ru_utime.tv_usec + Usage.ru_stime.tv_usec) / 1e6;
    }
};
