#include "serial/platform/commport_fake.h"

#include <cerrno>
#include <chrono>

#include "serial/vaobjects.h"
#include "serial/vautils.h"

namespace commport {

namespace {

class TFakePort final : public TCommPort {
public:
    explicit TFakePort(std::shared_ptr<TFakeDevice> d) : D(std::move(d)), Pty(D->PseudoTerminal) {}
    bool PseudoTerminal() const override { return Pty; }
    ~TFakePort() override
    {
        std::lock_guard lock(D->M);
        D->Open = false;
        D->Calls.push_back("Close");
    }

    int SetState(const TDcb& dcb) override
    {
        return Call("SetState", [&] { D->State = dcb; });
    }
    int Setup(std::uint32_t in, std::uint32_t out) override
    {
        return Call("Setup", [&] {
            D->SetupIn = in;
            D->SetupOut = out;
        });
    }
    int SetTimeouts() override
    {
        return Call("SetTimeouts", [] {});
    }
    int SetMask(std::uint32_t mask) override
    {
        return Call("SetMask", [&] { D->Mask = mask; });
    }

    TWriteResult Write(const std::uint8_t* data, std::uint32_t count, TVaEvent* const* wake, int wakeCount,
                       std::int32_t timeoutMs) override
    {
        TWriteResult r;
        TVaTimeEvent timer;
        InitTimer(timer, timeoutMs);
        for (;;) {
            {
                std::unique_lock lock(D->M);
                if (D->Writes == 0 || D->Calls.empty() || D->Calls.back() != "Write")
                    D->Calls.push_back("Write");
                if (D->Lost) {
                    r.Error = D->Lost;
                    return r;
                }
                if (auto f = D->Fail.find("Write"); f != D->Fail.end()) {
                    r.Error = f->second;
                    return r;
                }
                if (D->FailWrites > 0) {
                    --D->FailWrites;
                    r.Error = D->WriteError;
                    return r;
                }
                if (!D->Hold) {
                    ++D->Writes;
                    D->Received.append(reinterpret_cast<const char*>(data) + r.Written, count - r.Written);
                    r.Written = count;
                    lock.unlock();
                    D->Cv.notify_all();
                    return r;
                }
            }
            // Held: wait for the device, a wake event or the time limit.
            bool deaf;
            {
                std::lock_guard lock(D->M);
                deaf = D->Deaf;
            }
            const int w = WaitForEvents(wake, wakeCount, 1);
            if (w >= 0 && deaf) {
                std::lock_guard lock(D->M);
                D->WakeIgnored = true;
            } else if (w >= 0) {
                r.Woken = w;
                return r;
            }
            if (timeoutMs >= 0 && TimerExpired(timer)) {
                r.TimedOut = true;
                return r;
            }
        }
    }

    int Read(std::uint8_t* data, std::uint32_t count, std::uint32_t& read) override
    {
        read = 0;
        return Call("Read", [&] {
            const std::size_t n = std::min<std::size_t>(count, D->Incoming.size());
            std::copy_n(D->Incoming.begin(), n, data);
            D->Incoming.erase(0, n);
            read = static_cast<std::uint32_t>(n);
        });
    }

    int WaitEvent(std::uint32_t& events, TVaEvent& wake, bool& woken) override
    {
        events = 0;
        woken = false;
        for (;;) {
            {
                std::lock_guard lock(D->M);
                if (auto f = D->Fail.find("WaitEvent"); f != D->Fail.end())
                    return f->second;
                if (D->Lost)
                    return D->Lost;
                events = D->Events & D->Mask;
                D->Events &= ~events;
                if (events)
                    return 0;
            }
            if (wake.WaitFor(1) == wrSignaled) {
                woken = true;
                return 0;
            }
        }
    }

    int Purge(std::uint32_t flags) override
    {
        return Call("Purge", [&] {
            D->PurgeFlags = flags;
            if (flags & (PURGE_RXABORT | PURGE_RXCLEAR))
                D->Incoming.clear();
        });
    }

    int ClearError(std::uint32_t& errors, TComStat& stat) override
    {
        errors = 0;
        stat = TComStat{};
        return Call("ClearError", [&] {
            errors = D->LineErrors;
            D->LineErrors = 0;
            stat.cbInQue = static_cast<std::uint32_t>(D->Incoming.size());
            stat.cbOutQue = D->OutQueue;
            if (D->Hold)
                stat.Flags |= fXoffHold;
        });
    }

    int Escape(std::uint32_t function) override
    {
        return Call(
            "Escape " + std::to_string(function), [] {}, "Escape");
    }
    int ModemStatus(std::uint32_t& status) override
    {
        status = 0;
        return Call("ModemStatus", [&] { status = D->ModemLines; });
    }
    int Properties(TCommProp& prop) override
    {
        prop = TCommProp{};
        return Call("Properties", [&] { prop.dwMaxBaud = 0x10000000; });
    }
    int LineLost(std::uint32_t& errors) override
    {
        std::lock_guard lock(D->M);
        errors = D->Lost ? (D->LineErrors | CE_IOE) : 0;
        if (D->Lost)
            D->LineErrors = 0;
        return D->Lost;
    }

private:
    template <class F>
    int Call(const std::string& name, F f, const std::string& failName = {})
    {
        {
            std::lock_guard lock(D->M);
            D->Calls.push_back(name);
            if (auto it = D->Fail.find(failName.empty() ? name : failName); it != D->Fail.end())
                return it->second;
            if (D->Lost)
                return D->Lost;
            f();
        }
        D->Cv.notify_all();
        return 0;
    }

    std::shared_ptr<TFakeDevice> D;
    const bool Pty;
};

}  // namespace

TFakePorts::TFakePorts()
{
    std::weak_ptr<TFakeDevice> weak = Device;
    SetPortOpener(
        [weak](const std::string& name, int& error) -> std::unique_ptr<TCommPort> {
            auto d = weak.lock();
            if (!d) {
                error = ENOENT;
                return nullptr;
            }
            std::lock_guard lock(d->M);
            d->Calls.push_back("Open " + name);
            if (d->Missing) {
                error = ENOENT;
                return nullptr;
            }
            if (d->Busy || d->Open) {
                error = EBUSY;
                return nullptr;
            }
            d->Open = true;
            ++d->Opens;
            d->OpenedName = name;
            error = 0;
            return std::make_unique<TFakePort>(d);
        },
        [weak](const std::string&, TDcb& dcb) {
            auto d = weak.lock();
            if (!d || d->Missing)
                return ENOENT;
            std::lock_guard lock(d->M);
            dcb = d->State;
            return 0;
        });
}

TFakePorts::~TFakePorts()
{
    SetPortOpener(nullptr, nullptr);
}

}  // namespace commport
