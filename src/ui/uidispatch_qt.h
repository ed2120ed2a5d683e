#pragma once
// The serial component's hand-over to the Qt event loop of the user-interface thread.

#include "serial/uidispatch.h"

class TQtUiDispatcher final : public TUiDispatcher {
public:
    bool IsUiThread() const override;
    // Queued into the event loop; the call runs when the loop next processes events.
    void Post(std::function<void()> call) override;
    // Ends a processEvents(WaitForMoreEvents) sleep of the user-interface thread.
    void Wake() override;
    // Shown in the application's error box.
    void HandleException(std::exception_ptr error) override;
};
