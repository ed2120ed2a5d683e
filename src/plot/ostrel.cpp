#include "plot/ostrel.h"

#include <algorithm>

namespace {

struct TCollect {
    std::vector<TOstrelText>& Out;
    void operator()(std::string_view text, TThrottle throttle) { Out.push_back({std::string(text), throttle}); }
};

}  // namespace

std::vector<TOstrelText> TOstrelStream::Prologue(int speed, bool accelerate)
{
    std::vector<TOstrelText> out;
    Prologue(speed, accelerate, TCollect{out});
    return out;
}

std::vector<TOstrelText> TOstrelStream::ObjectTexts(const THpglObject& object)
{
    std::vector<TOstrelText> out;
    ObjectTexts(object, TCollect{out});
    return out;
}

std::vector<TOstrelText> TOstrelStream::Epilogue()
{
    std::vector<TOstrelText> out;
    Epilogue(TCollect{out});
    return out;
}

std::uint64_t TOstrelStream::ObjectSize(const THpglObject& object, std::uint64_t maxPoints, std::uint64_t samples,
                                        bool& exact)
{
    // An arc no longer than its sample costs no more counted exactly.
    if (object.Kind != hkAA || ArcPointCount(object.P3) <= std::max(maxPoints, std::max<std::uint64_t>(samples, 2))) {
        std::uint64_t bytes = 0;
        ObjectTexts(object, [&](std::string_view t, TThrottle) { bytes += t.size(); });
        return bytes;
    }
    exact = false;
    const std::uint64_t n = ArcPointCount(object.P3);
    const TOstrelArc arc(PenX, PenY, object);
    const std::uint64_t kSamples = std::max<std::uint64_t>(samples, 2);  // below n, from the test above
    std::uint64_t sampled = 0;
    char buf[32];
    std::int32_t x = 0, y = 0;
    for (std::uint64_t k = 0; k < kSamples; ++k) {
        arc.Point(arc.Offset(static_cast<std::int64_t>(k * (n - 1) / (kSamples - 1))), x, y);
        sampled += 3 + static_cast<std::uint64_t>(ostrel_detail::Number(buf, x) - buf) +
                   static_cast<std::uint64_t>(ostrel_detail::Number(buf, y) - buf);
    }
    // The last sample is the last point: the pen ends there, as after sending the arc.
    DeviceX = PenX = x;
    DeviceY = PenY = y;
    DeviceRelative = false;
    return sampled * n / kSamples;
}

TStreamSize OstrelStreamSize(const THpglSheet& sheet, int speed, bool accelerate, std::int32_t first,
                             std::uint64_t maxPoints)
{
    TStreamSize size;
    TOstrelStream stream;
    auto count = [&](std::string_view t, TThrottle) { size.Bytes += t.size(); };
    const THpglObject* o = OstrelLeadIn(stream, sheet, first, speed, accelerate, count);
    // Small arcs are counted exactly while the budget lasts, then sized from two points each:
    // a sheet of a million arcs is sized as fast as one of a million lines.
    std::uint64_t budget = maxPoints;
    for (; o; o = o->Next) {
        const std::uint64_t points = o->Kind == hkAA ? ArcPointCount(o->P3) : 0;
        const std::uint64_t samples = budget >= 256 ? 256 : 2;
        size.Bytes += stream.ObjectSize(*o, budget, samples, size.Exact);
        budget -= std::min(budget, points <= budget ? points : samples);
    }
    stream.Epilogue(count);
    return size;
}
