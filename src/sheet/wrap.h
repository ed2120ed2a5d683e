#pragma once
// Two's complement wrap-around on 32-bit values. Plot files and the device rely on the
// wrap (long digit runs, relative moves), but signed overflow is undefined in C++, so every
// wrapping operation in the program goes through these helpers and nowhere else.

#include <cstdint>
#include <limits>

namespace wrap {

constexpr std::int32_t Add(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

constexpr std::int32_t Sub(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

constexpr std::int32_t Mul(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

constexpr std::int32_t Neg(std::int32_t a)
{
    return static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(a));
}

// The low 32 bits of a wider value, as the 32-bit arithmetic of the device would keep them.
constexpr std::int32_t Low32(std::int64_t v)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
}

}  // namespace wrap

// Range checks for the places that must refuse rather than wrap.
namespace range {

constexpr bool FitsInt32(std::int64_t v)
{
    return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
}

constexpr std::int32_t Clamp32(std::int64_t v)
{
    if (v < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    if (v > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(v);
}

}  // namespace range
