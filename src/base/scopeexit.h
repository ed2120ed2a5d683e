#pragma once
// Runs a call when a scope ends, however it ends: the one guard of the Qt-free layers.

#include <exception>
#include <utility>

namespace base {

template <class F>
class TScopeExit {
public:
    explicit TScopeExit(F fn) : Fn(std::move(fn)), Unwinding(std::uncaught_exceptions()) {}
    // A throw from the call propagates on an ordinary exit; while another exception unwinds it
    // is dropped, since two at once would end the program.
    ~TScopeExit() noexcept(false)
    {
        if (std::uncaught_exceptions() > Unwinding) {
            try {
                Fn();
            } catch (...) {
            }
        } else {
            Fn();
        }
    }
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;

private:
    F Fn;
    int Unwinding;
};

}  // namespace base
