#include "serial/uidispatch.h"

#include <atomic>
#include <cstdio>

namespace {
std::atomic<TUiDispatcher*> Current{nullptr};

void PrintException(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "unknown error\n");
    }
}
}  // namespace

void TUiDispatcher::HandleException(std::exception_ptr error)
{
    PrintException(error);
}

TUiDispatcher* UiDispatcher()
{
    return Current.load();
}

void SetUiDispatcher(TUiDispatcher* dispatcher)
{
    Current.store(dispatcher);
}

void VaHandleException(std::exception_ptr error)
{
    if (TUiDispatcher* d = UiDispatcher())
        d->HandleException(error);
    else
        PrintException(error);
}

bool HandOver(TUiDispatcher* dispatcher, const std::shared_ptr<THandOverState>& state, std::function<void()> call)
{
    auto runGuarded = [dispatcher](const std::function<void()>& f) {
        try {
            f();
        } catch (...) {
            // Exceptions never cross into the event loop that runs the call.
            if (dispatcher)
                dispatcher->HandleException(std::current_exception());
            else
                VaHandleException(std::current_exception());
        }
    };
    if (!dispatcher || dispatcher->IsUiThread()) {
        runGuarded(call);
        return true;
    }
    struct TCall {
        bool Started = false;
        bool Done = false;
        bool Cancelled = false;
    };
    auto c = std::make_shared<TCall>();
    auto released = [&] { return c->Done || state->Stop || state->PurgeRequested > state->PurgeAcknowledged; };
    {
        std::lock_guard lock(state->M);
        if (released())
            return false;
    }
    dispatcher->Post([state, c, call = std::move(call), runGuarded] {
        {
            std::lock_guard lock(state->M);
            if (c->Cancelled || state->Stop)
                return;
            c->Started = true;
        }
        runGuarded(call);
        {
            std::lock_guard lock(state->M);
            c->Done = true;
        }
        state->Cv.notify_all();
    });
    dispatcher->Wake();
    std::unique_lock lock(state->M);
    state->Cv.wait(lock, released);
    if (!c->Done && !c->Started)
        c->Cancelled = true;
    return c->Done;
}

void TQueueDispatcher::Post(std::function<void()> call)
{
    {
        std::lock_guard lock(M);
        Calls.push_back(std::move(call));
    }
    Cv.notify_all();
}

void TQueueDispatcher::Wake()
{
    {
        std::lock_guard lock(M);
        Woken = true;
    }
    Cv.notify_all();
}

void TQueueDispatcher::HandleException(std::exception_ptr error)
{
    if (OnException)
        OnException(error);
    else
        TUiDispatcher::HandleException(error);
}

int TQueueDispatcher::Queued()
{
    std::lock_guard lock(M);
    return static_cast<int>(Calls.size());
}

int TQueueDispatcher::Pump(std::chrono::milliseconds wait)
{
    std::deque<std::function<void()>> batch;
    {
        std::unique_lock lock(M);
        if (Calls.empty() && wait.count() > 0)
            Cv.wait_for(lock, wait, [&] { return !Calls.empty() || Woken; });
        Woken = false;
        batch.swap(Calls);
    }
    for (auto& call : batch)
        call();
    return static_cast<int>(batch.size());
}
