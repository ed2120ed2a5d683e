#pragma once
// Types shared by the serial port component.

#include <cstdint>
#include <stdexcept>
#include <string>

// The one exception of the serial component: a message, nothing more.
class EVaCommError : public std::runtime_error {
public:
    explicit EVaCommError(const std::string& message) : std::runtime_error(message) {}
};

using TVaPortInt = std::int32_t;  // 0..2147483647
using TVaIntW = std::int32_t;     // 0..2147483647

enum TVaBaudrate : std::uint8_t {
    brUser,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TVaParity : std::uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TVaDatabits : std::uint8_t { db4, db5, db6, db7, db8 };
enum TVaStopbits : std::uint8_t { sb1, sb15, sb2 };
enum TVaCommOption : std::uint8_t { coErrorChar, coNullStrip, coParityCheck };
enum TVaCommEvent : std::uint8_t {
    ceBreak,
    ceCts,
    ceDsr,
    ceError,
    ceRing,
    ceRlsd,
    ceRxChar,
    ceTxEmpty,
    ceRxFlag,
    cePErr,
    ceRx80Full,
    ceEvent1,
    ceEvent2
};
enum TVaControlDtr : std::uint8_t { dtrDisabled, dtrEnabled, dtrHandshake };
enum TVaControlRts : std::uint8_t { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };
enum TVaEventWaitResult : std::uint8_t { wrSignaled, wrTimeout, wrAbandoned, wrError };
// Whether writes keep to the line's rate themselves: on a pseudo-terminal (auto), always, never.
enum TVaPaceLine : std::uint8_t { plAuto, plOn, plOff };
enum TThreadPriority : std::uint8_t { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Small bit sets over the enumerations: TVaCommOptions is 8 bits, TVaCommEvents 16.
template <class E, class Bits>
class TVaSet {
public:
    constexpr TVaSet() = default;
    constexpr TVaSet(std::initializer_list<E> members)
    {
        for (E m : members)
            Value |= Bit(m);
    }
    constexpr bool Contains(E m) const { return (Value & Bit(m)) != 0; }
    constexpr void Include(E m) { Value |= Bit(m); }
    constexpr void Exclude(E m) { Value &= static_cast<Bits>(~Bit(m)); }
    constexpr Bits Raw() const { return Value; }
    constexpr bool operator==(const TVaSet&) const = default;

private:
    static constexpr Bits Bit(E m) { return static_cast<Bits>(1u << static_cast<unsigned>(m)); }
    Bits Value = 0;
};

using TVaCommOptions = TVaSet<TVaCommOption, std::uint8_t>;
using TVaCommEvents = TVaSet<TVaCommEvent, std::uint16_t>;

// The rate in bits per second of a baud-rate choice; 0 for brUser.
std::uint32_t BaudrateValue(TVaBaudrate b);
