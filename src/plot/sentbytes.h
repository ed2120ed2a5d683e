#pragma once
// What a plot run has written to the line and what of it surely left: byte offsets into the
// run's stream, where its commands (units) start and its objects end, and the recent bytes
// themselves, so that a drop can complete the command it cut. No port: the runner tells it
// what the queues still hold.
//
// Index spaces: stream offsets count bytes from the run's first (0-based); object counts
// are how many objects of the sheet are wholly written, from the sheet's first, so a count
// of n means objects 0..n-1 and the user's object numbers 1..n.

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>

class TSentBytes {
public:
    // A run that starts with `objectsBefore` objects of the sheet already delivered (a resume).
    TSentBytes() = default;
    explicit TSentBytes(std::int32_t objectsBefore) : ObjectsBase(objectsBefore) {}

    // The stream's next bytes; unitStart when a command starts with them.
    void Append(std::string_view text, bool unitStart);
    // The object count that the bytes written so far complete.
    void EndObject(std::int32_t objects) { ObjectEnds.emplace_back(FWritten, objects); }
    // The closing text starts here.
    void MarkClosing() { ClosingAt = FWritten; }

    std::uint64_t Written() const { return FWritten; }
    // The bytes written that are no longer in the queues, given what still is.
    std::uint64_t Gone(std::int64_t left) const;
    // Notes what the queues hold now; the most that ever surely left is kept.
    void NoteLeft(std::int64_t left);
    std::uint64_t SurelyLeft() const { return FSurelyLeft; }

    // The objects wholly within the stream's first `delivered` bytes.
    std::int32_t DeliveredObjects(std::uint64_t delivered) const;
    // The rest of the command the first `delivered` bytes cut; empty between two commands.
    std::string CutRest(std::uint64_t delivered) const;
    // What completes the line after a drop that kept the first `delivered` bytes: the rest of
    // the closing text when the drop cut it (closing set), else the rest of the cut command.
    std::string DropRest(std::uint64_t delivered, bool& closing) const;
    // The stream now ends after `delivered` bytes; objects ending beyond `keepObjectsTo` are
    // forgotten.
    void Truncate(std::uint64_t delivered, std::uint64_t keepObjectsTo);

    // Recent bytes kept for completing a cut command: far more than the queues ever hold.
    static constexpr std::size_t kTailKeep = 64 * 1024;

private:
    std::uint64_t FWritten = 0;
    std::uint64_t FSurelyLeft = 0;
    std::uint64_t ClosingAt = UINT64_MAX;
    std::string Tail;
    std::uint64_t TailStart = 0;
    std::deque<std::uint64_t> UnitStarts;
    // (offset where an object ends, object count with it) for the objects possibly still
    // queued; ObjectsBase: the count delivered before them.
    std::deque<std::pair<std::uint64_t, std::int32_t>> ObjectEnds;
    std::int32_t ObjectsBase = 0;
};
