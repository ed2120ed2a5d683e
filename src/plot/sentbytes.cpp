#include "plot/sentbytes.h"

#include <algorithm>

void TSentBytes::Append(std::string_view text, bool unitStart)
{
    if (unitStart)
        UnitStarts.push_back(FWritten);
    Tail.append(text);
    if (Tail.size() > 2 * kTailKeep) {
        const std::size_t drop = Tail.size() - kTailKeep;
        Tail.erase(0, drop);
        TailStart += drop;
        while (UnitStarts.size() > 1 && UnitStarts[1] <= TailStart)
            UnitStarts.pop_front();
        while (!ObjectEnds.empty() && ObjectEnds.front().first <= TailStart) {
            ObjectsBase = ObjectEnds.front().second;
            ObjectEnds.pop_front();
        }
    }
    FWritten += text.size();
}

std::uint64_t TSentBytes::Gone(std::int64_t left) const
{
    return FWritten > static_cast<std::uint64_t>(left) ? FWritten - static_cast<std::uint64_t>(left) : 0;
}

void TSentBytes::NoteLeft(std::int64_t left)
{
    FSurelyLeft = std::max(FSurelyLeft, Gone(left));
}

std::int32_t TSentBytes::DeliveredObjects(std::uint64_t delivered) const
{
    std::int32_t k = ObjectsBase;
    for (const auto& [end, n] : ObjectEnds) {
        if (end > delivered)
            break;
        k = n;
    }
    return k;
}

std::string TSentBytes::CutRest(std::uint64_t delivered) const
{
    if (delivered >= FWritten || delivered < TailStart)
        return {};
    auto next = std::upper_bound(UnitStarts.begin(), UnitStarts.end(), delivered);
    if (next != UnitStarts.begin() && *(next - 1) == delivered)
        return {};  // cut between two commands
    const std::uint64_t end = next == UnitStarts.end() ? FWritten : *next;
    return Tail.substr(static_cast<std::size_t>(delivered - TailStart), static_cast<std::size_t>(end - delivered));
}

std::string TSentBytes::DropRest(std::uint64_t delivered, bool& closing) const
{
    closing = ClosingAt != UINT64_MAX && delivered > ClosingAt && delivered >= TailStart;
    if (!closing)
        return CutRest(delivered);
    return Tail.substr(static_cast<std::size_t>(std::min<std::uint64_t>(delivered - TailStart, Tail.size())));
}

void TSentBytes::Truncate(std::uint64_t delivered, std::uint64_t keep)
{
    if (delivered >= FWritten)
        return;
    if (delivered >= TailStart) {
        Tail.resize(static_cast<std::size_t>(delivered - TailStart));
    } else {
        Tail.clear();
        TailStart = delivered;
    }
    while (!UnitStarts.empty() && UnitStarts.back() > delivered)
        UnitStarts.pop_back();
    while (!ObjectEnds.empty() && ObjectEnds.back().first > keep)
        ObjectEnds.pop_back();
    FWritten = delivered;
}
