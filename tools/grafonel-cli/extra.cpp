#include "cli.h"

namespace cli {

std::vector<Command> ExtraCommands()
{
    return {};
}

}  // namespace cli
