#include "plot/ostrel.h"

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
