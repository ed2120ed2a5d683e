#pragma once
// Base classes of the serial component's objects.

#include <cstdint>
#include <functional>

// Update counting and one change handler: a copy bracketed by BeginUpdate/EndUpdate ends in
// exactly one notification.
class TVaPersistent {
public:
    virtual ~TVaPersistent() = default;

    void BeginUpdate() { ++UpdateCount; }
    void EndUpdate()
    {
        if (UpdateCount > 0)
            --UpdateCount;
        Changed();
    }
    void Changed()
    {
        if (UpdateCount == 0 && OnChange)
            OnChange();
    }
    std::int32_t UpdateCounter() const { return UpdateCount; }

    std::function<void()> OnChange;

private:
    std::int32_t UpdateCount = 0;
};

// Base of the library's components; adds nothing.
class TVaComponent {
public:
    virtual ~TVaComponent() = default;
    // Called when a component this one links to is being removed.
    virtual void Notification(TVaComponent* component, bool removing) { (void)component, (void)removing; }
};
