#include "serial/vacomm.h"

#include "serial/vacomm_p.h"

using namespace commport;

// ---------------------------------------------------------------- the component's clients

void TVaCustomComm::InsertClient(TVaDispatcher* client)
{
    client->Comm = this;
    FClients.push_back(client);
}

void TVaCustomComm::RemoveClient(TVaDispatcher* client)
{
    auto it = std::find(FClients.begin(), FClients.end(), client);
    if (it == FClients.end())
        return;
    client->Comm = nullptr;
    FClients.erase(it);
}

void TVaCustomComm::DestroyClients()
{
    // Each client's link is cleared, and a client that is a component is told, as it would
    // be of any component it links to going away.
    while (!FClients.empty()) {
        TVaDispatcher* client = FClients.back();
        RemoveClient(client);
        if (auto* component = dynamic_cast<TVaComponent*>(client->User))
            component->Notification(this, true);
    }
}

void TVaCustomComm::SetDisplay(TVaCommDisplay* value)
{
    if (value == FDisplay)
        return;
    if (FDisplay)
        FDisplay->FComm = nullptr;
    if (value) {
        if (value->FComm)
            value->FComm->SetDisplay(nullptr);
        value->FComm = this;
    }
    FDisplay = value;
}

TVaCommDisplay::~TVaCommDisplay()
{
    if (FComm)
        FComm->Notification(this, true);
}

void TVaCustomComm::UpdateDisplay()
{
    if (FDisplay)
        FDisplay->UpdateFrom(*this);
}

void TVaCustomComm::Notification(TVaComponent* component, bool removing)
{
    if (removing && component == FDisplay)
        SetDisplay(nullptr);
    TVaComponent::Notification(component, removing);
}

// ---------------------------------------------------------------- clients

TVaDispatcher::~TVaDispatcher()
{
    if (Comm)
        Comm->RemoveClient(this);
}

void TVaDispatcher::SetDTRState(bool on)
{
    if (Comm)
        Comm->SetDTR(on);
}

void TVaDispatcher::PurgeRead()
{
    if (Comm)
        Comm->PurgeRead();
}

void TVaDispatcher::PurgeWrite()
{
    if (Comm)
        Comm->PurgeWrite();
}

void TVaDispatcher::PurgeReadWrite()
{
    if (Comm)
        Comm->PurgeReadWrite();
}

std::int32_t TVaDispatcher::WriteBuf(const std::uint8_t* data, std::int32_t count)
{
    return Comm ? Comm->WriteBuf(data, count) : 0;
}

bool TVaDispatcher::WriteText(const std::string& text)
{
    return Comm ? Comm->WriteText(text) : false;
}

bool TVaDispatcher::WriteChar(char c)
{
    return Comm ? Comm->WriteChar(c) : false;
}

void TVaDispatcher::DataEvent(const std::uint8_t* data, std::int32_t count)
{
    if (Active)
        User->DataChanged(data, count);
}

void TVaDispatcher::LineEvent(std::uint32_t evtMask)
{
    if (Active)
        User->LineChanged(evtMask);
}

TVaCommComponent::TVaCommComponent() : FDispatcher(std::make_unique<TVaDispatcher>(this)) {}

TVaCommComponent::~TVaCommComponent()
{
    FDispatcher.reset();
}

void TVaCommComponent::SetComm(TVaCustomComm* comm)
{
    if (TVaCustomComm* old = FDispatcher->Comm)
        old->RemoveClient(FDispatcher.get());
    if (comm)
        comm->InsertClient(FDispatcher.get());
}

void TVaCommComponent::Notification(TVaComponent* component, bool removing)
{
    TVaComponent::Notification(component, removing);
    if (removing && component == Comm())
        SetComm(nullptr);
}
