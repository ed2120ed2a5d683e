#pragma once
// Handing calls from the component's threads to the user-interface thread. The windowing
// layer (Qt) or a console loop implements TUiDispatcher; the serial code never includes it.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class TUiDispatcher {
public:
    virtual ~TUiDispatcher() = default;
    virtual bool IsUiThread() const = 0;
    // Queues a call to run on the user-interface thread; never blocks.
    virtual void Post(std::function<void()> call) = 0;
    // Wakes the user-interface thread if it sleeps waiting for events (a write completed).
    virtual void Wake() {}
    // The application's display of an exception that no handler caught.
    virtual void HandleException(std::exception_ptr error);
};

// The dispatcher every component uses unless it is given its own; none until set.
TUiDispatcher* UiDispatcher();
void SetUiDispatcher(TUiDispatcher* dispatcher);
// Shows an exception through the current dispatcher (standard error without one).
void VaHandleException(std::exception_ptr error);

// What a worker thread and its owner share: the stop request and the purge handshake. Shared
// with queued calls too, which may run after the thread is gone.
struct THandOverState {
    std::mutex M;
    std::condition_variable Cv;
    bool Stop = false;
    std::uint64_t PurgeRequested = 0;
    std::uint64_t PurgeAcknowledged = 0;
    std::uint64_t PurgeWithdrawn = 0;  // the last request that gave up waiting
};

// Runs call on the user-interface thread and blocks until it has run, or until the thread is
// told to stop or a purge request waits for an acknowledgement (one raised before the call
// was handed over included: the requester may be the very thread that would run it). A call that had not started by then never runs. Runs
// the call at once when already on that thread (or when no dispatcher exists). Returns whether
// it ran to its end while waited for.
bool HandOver(TUiDispatcher* dispatcher, const std::shared_ptr<THandOverState>& state, std::function<void()> call);

// A dispatcher whose calls run when its owner pumps it: tests, and the console tools' loop.
class TQueueDispatcher : public TUiDispatcher {
public:
    TQueueDispatcher() : Ui(std::this_thread::get_id()) {}
    bool IsUiThread() const override { return std::this_thread::get_id() == Ui; }
    void Post(std::function<void()> call) override;
    void Wake() override;
    void HandleException(std::exception_ptr error) override;
    // Runs the queued calls; when none is queued, waits up to wait for one or for a wake-up.
    int Pump(std::chrono::milliseconds wait = std::chrono::milliseconds(0));
    // Calls posted and not yet run: a worker blocked in a hand-over has one here.
    int Queued();

    std::function<void(std::exception_ptr)> OnException;

private:
    std::thread::id Ui;
    std::mutex M;
    std::condition_variable Cv;
    std::deque<std::function<void()>> Calls;
    bool Woken = false;
};
