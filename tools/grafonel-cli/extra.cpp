#include "cli.h"

namespace cli {

std::vector<Command> StreamCommands();
std::vector<Command> PlotCommands();
std::vector<Command> EstimateCommands();
#if defined(GRAFONEL_WITH_QT) || defined(GRAFONEL_QT_HANDOFF)
std::vector<Command> RenderCommands();
#endif

std::vector<Command> ExtraCommands()
{
    std::vector<Command> all = StreamCommands();
    for (auto& c : PlotCommands())
        all.push_back(std::move(c));
    for (auto& c : EstimateCommands())
        all.push_back(std::move(c));
#if defined(GRAFONEL_WITH_QT) || defined(GRAFONEL_QT_HANDOFF)
    for (auto& c : RenderCommands())
        all.push_back(std::move(c));
#endif
    return all;
}

}  // namespace cli
