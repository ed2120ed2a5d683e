// The choice between the system's ports and a stand-in that tests put in their place.

#include <mutex>

#include "serial/platform/commport.h"

namespace commport {

namespace {
std::mutex OpenerMutex;
TPortOpener Opener;
TConfigReader ConfigReader;
}  // namespace

void SetPortOpener(TPortOpener opener, TConfigReader config)
{
    std::lock_guard lock(OpenerMutex);
    Opener = std::move(opener);
    ConfigReader = std::move(config);
}

std::unique_ptr<TCommPort> OpenPort(const std::string& name, int& error)
{
    TPortOpener opener;
    {
        std::lock_guard lock(OpenerMutex);
        opener = Opener;
    }
    return opener ? opener(name, error) : OpenSystemPort(name, error);
}

int DefaultConfig(const std::string& name, TDcb& dcb)
{
    TConfigReader reader;
    {
        std::lock_guard lock(OpenerMutex);
        reader = ConfigReader;
    }
    return reader ? reader(name, dcb) : SystemDefaultConfig(name, dcb);
}

}  // namespace commport
