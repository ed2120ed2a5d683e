#include "plot/tourorder.h"

#include "base/hugepages.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

struct TPoint {
    double X, Y;
};

double Distance(TPoint a, TPoint b)
{
    // Coordinates are 32-bit, so the squares stay far inside a double's range: no need for
    // hypot's care, which costs several times as much.
    const double dx = a.X - b.X, dy = a.Y - b.Y;
    return std::sqrt(dx * dx + dy * dy);
}

// A 2-d tree over the ends of the pieces (id = piece * 2 + end, end 0 the start). Ends can be
// retired: a subtree without a live end is never entered, so the search stays short while the
// nearest-neighbour pass uses the ends up.
class TEndTree {
public:
    explicit TEndTree(const std::vector<TPoint>& ends)
    {
        base::ReserveHuge(Slots, ends.size());
        for (std::uint32_t id = 0; id < ends.size(); ++id)
            Slots.push_back({static_cast<std::int32_t>(ends[id].X), static_cast<std::int32_t>(ends[id].Y), id, kNone});
        base::ReserveHuge(Nodes, ends.size() / 2 + 1);
        if (!Slots.empty())
            Build(0, static_cast<std::uint32_t>(Slots.size()), kNone);
        std::vector<std::uint32_t> slotOf;
        base::ReserveHuge(slotOf, ends.size());
        slotOf.resize(ends.size());
        base::ReserveHuge(LeafOf, Slots.size());
        LeafOf.assign(Slots.size(), 0);
        for (std::uint32_t n = 0; n < Nodes.size(); ++n)
            if (Nodes[n].Left == kNone)
                for (std::uint32_t s = Nodes[n].Begin; s < Nodes[n].End; ++s) {
                    LeafOf[s] = n;
                    slotOf[Slots[s].Id] = s;
                }
        // Each end knows its piece's other end by slot, so the walk from piece to piece reads
        // memory near where it already is.
        for (TSlot& slot : Slots)
            slot.Other = slotOf[slot.Id ^ 1];
        Dead.assign(Slots.size(), 0);
    }

    std::uint32_t Id(std::uint32_t slot) const { return Slots[slot].Id; }
    std::uint32_t Other(std::uint32_t slot) const { return Slots[slot].Other; }
    TPoint At(std::uint32_t slot) const
    {
        return {static_cast<double>(Slots[slot].X), static_cast<double>(Slots[slot].Y)};
    }

    void Retire(std::uint32_t slot)
    {
        if (Dead[slot])
            return;
        Dead[slot] = 1;
        for (std::uint32_t n = LeafOf[slot]; n != kNone; n = Nodes[n].Parent)
            --Nodes[n].Alive;
    }

    // The slot of the nearest live end, ties to the lower id; kNone when none is left. The
    // search starts in the leaf of slot `near` (an end at or close to p) and climbs only as far
    // as it must: the pen's next piece is nearly always close by.
    std::uint32_t Nearest(TPoint p, std::uint32_t near = kNone)
    {
        double best = std::numeric_limits<double>::infinity();
        std::uint32_t bestSlot = kNone;
        if (Nodes.empty())
            return kNone;
        std::uint32_t from = near != kNone ? LeafOf[near] : 0;
        Search(from, p, best, bestSlot);
        for (std::uint32_t up = Nodes[from].Parent; up != kNone; from = up, up = Nodes[up].Parent) {
            // Nothing outside a subtree's box is nearer than the best when the circle of that
            // distance lies inside the box.
            const TNode& n = Nodes[from];
            const double r = std::sqrt(best);
            if (p.X - r > n.MinX && p.X + r < n.MaxX && p.Y - r > n.MinY && p.Y + r < n.MaxY)
                break;
            Search(Nodes[up].Left == from ? Nodes[up].Right : Nodes[up].Left, p, best, bestSlot);
        }
        return bestSlot;
    }

    // The k nearest ends of other pieces to the end in `slot`, nearest first (ties to the
    // lower id). Retired ends count too. Like the nearest live end, the search starts in the
    // end's own leaf and climbs only as far as the k-th distance reaches.
    void Nearest(std::uint32_t slot, std::size_t k, std::vector<std::uint32_t>& out)
    {
        Best.clear();
        const TPoint p = At(slot);
        const std::uint32_t piece = Slots[slot].Id / 2;
        std::uint32_t from = LeafOf[slot];
        Gather(from, p, piece, k);
        for (std::uint32_t up = Nodes[from].Parent; up != kNone; from = up, up = Nodes[up].Parent) {
            const TNode& n = Nodes[from];
            if (Best.size() == k) {
                const double r = std::sqrt(Best.front().first);
                if (p.X - r > n.MinX && p.X + r < n.MaxX && p.Y - r > n.MinY && p.Y + r < n.MaxY)
                    break;
            }
            Gather(Nodes[up].Left == from ? Nodes[up].Right : Nodes[up].Left, p, piece, k);
        }
        std::sort_heap(Best.begin(), Best.end(), Worse);
        out.clear();
        for (const auto& b : Best)
            out.push_back(b.second);
    }

    std::size_t Size() const { return Slots.size(); }

private:
    static constexpr std::uint32_t kLeaf = 8;
    struct TNode {
        double MinX, MinY, MaxX, MaxY;
        std::uint32_t Begin, End, Left, Right, Parent, Alive;
    };

    struct TSlot {
        std::int32_t X, Y;  // the ends are whole plotter units
        std::uint32_t Id;
        std::uint32_t Other;  // the slot of the piece's other end
    };

    static double Distance2(const TSlot& a, TPoint b)
    {
        const double dx = a.X - b.X, dy = a.Y - b.Y;
        return dx * dx + dy * dy;
    }
    static double BoxDistance2(const TNode& n, TPoint p)
    {
        const double dx = p.X < n.MinX ? n.MinX - p.X : p.X > n.MaxX ? p.X - n.MaxX : 0;
        const double dy = p.Y < n.MinY ? n.MinY - p.Y : p.Y > n.MaxY ? p.Y - n.MaxY : 0;
        return dx * dx + dy * dy;
    }
    static bool Worse(const std::pair<double, std::uint32_t>& a, const std::pair<double, std::uint32_t>& b)
    {
        return a < b;
    }

    // Adds the ends of a subtree to the k best so far (a max-heap in Best).
    void Gather(std::uint32_t root, TPoint p, std::uint32_t piece, std::size_t k)
    {
        Stack.clear();
        Stack.push_back(root);
        while (!Stack.empty()) {
            const TNode& n = Nodes[Stack.back()];
            Stack.pop_back();
            if (Best.size() == k && BoxDistance2(n, p) > Best.front().first)
                continue;
            if (n.Left != kNone) {
                PushNearerLast(n, p);
                continue;
            }
            for (std::uint32_t s = n.Begin; s < n.End; ++s) {
                const std::uint32_t id = Slots[s].Id;
                if (id / 2 == piece)
                    continue;
                const std::pair<double, std::uint32_t> c{Distance2(Slots[s], p), id};
                if (Best.size() < k) {
                    Best.push_back(c);
                    std::push_heap(Best.begin(), Best.end(), Worse);
                } else if (c < Best.front()) {
                    std::pop_heap(Best.begin(), Best.end(), Worse);
                    Best.back() = c;
                    std::push_heap(Best.begin(), Best.end(), Worse);
                }
            }
        }
    }

    void Search(std::uint32_t root, TPoint p, double& best, std::uint32_t& bestSlot)
    {
        Stack.clear();
        Stack.push_back(root);
        while (!Stack.empty()) {
            const TNode& n = Nodes[Stack.back()];
            Stack.pop_back();
            if (n.Alive == 0 || BoxDistance2(n, p) > best)
                continue;
            if (n.Left == kNone) {
                for (std::uint32_t s = n.Begin; s < n.End; ++s) {
                    if (Dead[s])
                        continue;
                    const double d = Distance2(Slots[s], p);
                    if (d < best || (d == best && Slots[s].Id < Slots[bestSlot].Id)) {
                        best = d;
                        bestSlot = s;
                    }
                }
                continue;
            }
            PushNearerLast(n, p);
        }
    }

    void PushNearerLast(const TNode& n, TPoint p)
    {
        const double l = BoxDistance2(Nodes[n.Left], p), r = BoxDistance2(Nodes[n.Right], p);
        if (l <= r) {
            Stack.push_back(n.Right);
            Stack.push_back(n.Left);
        } else {
            Stack.push_back(n.Left);
            Stack.push_back(n.Right);
        }
    }

    std::uint32_t Build(std::uint32_t begin, std::uint32_t end, std::uint32_t parent)
    {
        const auto self = static_cast<std::uint32_t>(Nodes.size());
        TNode node{};
        node.MinX = node.MinY = std::numeric_limits<double>::infinity();
        node.MaxX = node.MaxY = -std::numeric_limits<double>::infinity();
        for (std::uint32_t s = begin; s < end; ++s) {
            const double x = Slots[s].X, y = Slots[s].Y;
            node.MinX = std::min(node.MinX, x);
            node.MaxX = std::max(node.MaxX, x);
            node.MinY = std::min(node.MinY, y);
            node.MaxY = std::max(node.MaxY, y);
        }
        node.Begin = begin;
        node.End = end;
        node.Parent = parent;
        node.Alive = end - begin;
        node.Left = node.Right = kNone;
        Nodes.push_back(node);
        if (end - begin <= kLeaf)
            return self;
        const bool byX = node.MaxX - node.MinX >= node.MaxY - node.MinY;
        // Split the box in the middle of its longer side: one pass, no sorting. Where that
        // leaves one side empty (points all alike along it), split at the median instead.
        const double cut = byX ? (node.MinX + node.MaxX) / 2 : (node.MinY + node.MaxY) / 2;
        auto at = std::partition(Slots.begin() + begin, Slots.begin() + end,
                                 [byX, cut](const TSlot& a) { return (byX ? a.X : a.Y) < cut; });
        std::uint32_t mid = static_cast<std::uint32_t>(at - Slots.begin());
        if (mid == begin || mid == end) {
            mid = begin + (end - begin) / 2;
            std::nth_element(Slots.begin() + begin, Slots.begin() + mid, Slots.begin() + end,
                             [byX](const TSlot& a, const TSlot& b) {
                                 const std::int32_t ka = byX ? a.X : a.Y, kb = byX ? b.X : b.Y;
                                 return ka < kb || (ka == kb && a.Id < b.Id);
                             });
        }
        const std::uint32_t left = Build(begin, mid, self);
        const std::uint32_t right = Build(mid, end, self);
        Nodes[self].Left = left;
        Nodes[self].Right = right;
        return self;
    }

    std::vector<TSlot> Slots;           // ends, grouped by leaf
    std::vector<std::uint32_t> LeafOf;  // slot to leaf
    std::vector<std::uint8_t> Dead;     // by slot
    std::vector<TNode> Nodes;
    std::vector<std::uint32_t> Stack;
    std::vector<std::pair<double, std::uint32_t>> Best;
};

std::vector<TPoint> EndsOf(const std::vector<TTourPiece>& pieces)
{
    std::vector<TPoint> ends;
    base::ReserveHuge(ends, 2 * pieces.size());
    ends.resize(2 * pieces.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        ends[2 * i] = {static_cast<double>(pieces[i].Sx), static_cast<double>(pieces[i].Sy)};
        ends[2 * i + 1] = {static_cast<double>(pieces[i].Ex), static_cast<double>(pieces[i].Ey)};
    }
    return ends;
}

bool SameEnds(const TTourPiece& p)
{
    return p.Sx == p.Ex && p.Sy == p.Ey;
}

std::vector<TTourStep> Greedy(const std::vector<TTourPiece>& pieces, TEndTree& tree, TPoint at,
                              const std::function<bool(double)>& progress, double share)
{
    // A piece is entered by its start, or by its end when it may be drawn backwards; a piece
    // whose ends meet offers one of them.
    for (std::uint32_t s = 0; s < 2 * pieces.size(); ++s) {
        const std::uint32_t id = tree.Id(s);
        if ((id & 1) && (!pieces[id / 2].Reversible || SameEnds(pieces[id / 2])))
            tree.Retire(s);
    }
    std::vector<TTourStep> steps;
    steps.reserve(pieces.size());
    std::uint32_t near = kNone;
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        if (progress && (k & 4095) == 4095 && !progress(share * static_cast<double>(k) / pieces.size()))
            return {};
        const std::uint32_t in = tree.Nearest(at, near);
        const std::uint32_t out = tree.Other(in);
        tree.Retire(in);
        tree.Retire(out);
        const std::uint32_t id = tree.Id(in);
        steps.push_back({id / 2, (id & 1) != 0});
        near = out;
        at = tree.At(out);
    }
    return steps;
}

// Counts over positions of the path (a Fenwick tree): where the pieces that may not be
// reversed stand, so a reversal can be refused at once.
class TCounts {
public:
    explicit TCounts(std::size_t n) : Tree(n + 1, 0) {}
    void Add(std::size_t pos, int v)
    {
        for (std::size_t i = pos + 1; i < Tree.size(); i += i & (~i + 1))
            Tree[i] += v;
    }
    int Prefix(std::size_t end) const  // positions [0, end)
    {
        int s = 0;
        for (std::size_t i = end; i > 0; i -= i & (~i + 1))
            s += Tree[i];
        return s;
    }

private:
    std::vector<int> Tree;
};

// 2-opt and or-opt over neighbour lists, first improvement, on a path with a fixed start and a
// free end. Every change is bounded in length and the whole run in work, so a million pieces
// take seconds; the work budget, not a clock, ends it, so the result never depends on the
// machine.
class TImprover {
public:
    TImprover(const std::vector<TTourPiece>& pieces, const std::vector<TPoint>& ends, TPoint start,
              std::vector<TTourStep>& steps)
        : Pieces(pieces), Ends(ends), Start(start), N(static_cast<std::int64_t>(steps.size())), Fixed(steps.size())
    {
        At.resize(steps.size());
        Rev.resize(steps.size());
        PosOf.resize(steps.size());
        for (std::size_t i = 0; i < steps.size(); ++i) {
            At[i] = steps[i].Piece;
            Rev[i] = steps[i].Reversed;
            PosOf[steps[i].Piece] = static_cast<std::int64_t>(i);
            if (!pieces[steps[i].Piece].Reversible && !SameEnds(pieces[steps[i].Piece])) {
                Fixed.Add(i, 1);
                AnyFixed = true;
            }
        }
        MaxSpan = N <= 200000 ? N : std::max<std::int64_t>(50000, N / 20);
        Budget = 40 * N + 20000000;
    }

    bool Run(TEndTree& tree, const std::function<bool(double)>& progress, double from)
    {
        const double searched = from + (1 - from) / 3, kicked = from + 2 * (1 - from) / 3;
        BuildNeighbours(tree, progress, from, searched);
        if (Cancelled)
            return false;
        Queued.assign(Pieces.size(), 0);
        for (std::uint32_t piece : At)
            Enqueue(piece);
        if (!Search(progress, searched, kicked))
            return false;
        return Kick(progress, kicked, 1);
    }

    void Steps(std::vector<TTourStep>& steps) const
    {
        for (std::size_t i = 0; i < steps.size(); ++i)
            steps[i] = {At[i], Rev[i] != 0};
    }

private:
    static constexpr double kEps = 1e-3;

    void Enqueue(std::uint32_t piece)
    {
        if (!Queued[piece]) {
            Queued[piece] = 1;
            Queue.push_back(piece);
        }
    }

    // Improving moves around the queued pieces until none is left or the work is spent; the
    // travel saved is added to Saved.
    bool Search(const std::function<bool(double)>& progress, double from, double to)
    {
        std::uint64_t pops = 0;
        while (Head < Queue.size() && Work < Budget) {
            if (progress && (++pops & 4095) == 0 &&
                !progress(from +
                          (to - from) * std::min(1.0, static_cast<double>(Work) / static_cast<double>(Budget)))) {
                Cancelled = true;
                return false;
            }
            const std::uint32_t piece = Queue[Head++];
            Queued[piece] = 0;
            Touched.clear();
            if (TwoOpt(piece) || OrOpt(piece)) {
                for (std::uint32_t t : Touched)
                    Enqueue(t);
                Enqueue(piece);
            }
            // Keep the queue's memory bounded: drop what was worked off.
            if (Head > (1u << 16) && Head * 2 > Queue.size()) {
                Queue.erase(Queue.begin(), Queue.begin() + static_cast<std::ptrdiff_t>(Head));
                Head = 0;
            }
        }
        // Spent: what is left is not looked at again.
        for (; Head < Queue.size(); ++Head)
            Queued[Queue[Head]] = 0;
        Queue.clear();
        Head = 0;
        return true;
    }

    std::uint64_t Random()
    {
        // xorshift64*: the same sequence with every compiler and library.
        Seed ^= Seed >> 12;
        Seed ^= Seed << 25;
        Seed ^= Seed >> 27;
        return Seed * 2685821657736338717ull;
    }

    double Travel(std::int64_t from, std::int64_t to) const  // links after positions [from, to]
    {
        double t = 0;
        for (std::int64_t i = std::max<std::int64_t>(from, -1); i <= to && i < N; ++i)
            t += Link(i);
        return t;
    }

    // Local kicks: two neighbouring short runs of the path change places, the search repairs
    // around them, and the change is kept only when the path came out shorter.
    bool Kick(const std::function<bool(double)>& progress, double from, double to)
    {
        if (N < 8)
            return true;
        const std::uint64_t kicks = std::min<std::uint64_t>(static_cast<std::uint64_t>(N), 200000);
        const std::uint64_t start = Work;
        Budget = Work + Budget / 2;
        // A kick is repaired near where it struck.
        MaxSpan = std::min<std::int64_t>(MaxSpan, 1000);
        for (std::uint64_t k = 0; k < kicks && Work < Budget; ++k) {
            // Done when the kicks or the work run out, whichever comes first.
            const double done = std::max(static_cast<double>(k) / static_cast<double>(kicks),
                                         static_cast<double>(Work - start) / static_cast<double>(Budget - start));
            if (progress && (k & 1023) == 1023 && !progress(from + (to - from) * done)) {
                Cancelled = true;
                return false;
            }
            const std::int64_t a = 1 + static_cast<std::int64_t>(Random() % 30);
            const std::int64_t b = 1 + static_cast<std::int64_t>(Random() % 30);
            const std::int64_t gap = static_cast<std::int64_t>(Random() % 30);
            if (a + b + gap + 1 >= N)
                continue;
            const std::int64_t p =
                static_cast<std::int64_t>(Random() % static_cast<std::uint64_t>(N - a - b - gap)) - 1;
            // [p + 1, p + gap] stays, [p + gap + 1, p + gap + a] and the b after it swap.
            const std::int64_t s = p + gap + a + 1, e = s + b - 1, j = p + gap;
            const double before = Travel(p, e);
            Logging = true;
            Log.clear();
            Move(s, e, j, false);
            Saved = before - Travel(p, e);
            for (std::int64_t i = std::max<std::int64_t>(p, 0); i <= std::min(e + 1, N - 1); ++i)
                Enqueue(At[i]);
            if (!Search({}, 0, 0))
                return false;
            Logging = false;
            if (Saved <= kEps)
                Undo();
        }
        Logging = false;
        return true;
    }

    void Undo()
    {
        for (auto it = Log.rbegin(); it != Log.rend(); ++it) {
            if (it->Reverse) {
                Reverse(it->S, it->E);
                continue;
            }
            const std::int64_t len = it->E - it->S + 1;
            if (it->J > it->E)
                Move(it->J - len + 1, it->J, it->S - 1, it->Reversed);
            else
                Move(it->J + 1, it->J + len, it->E, it->Reversed);
        }
        Log.clear();
    }

    TPoint EntryAt(std::int64_t i) const { return Ends[2 * At[i] + (Rev[i] ? 1 : 0)]; }
    TPoint ExitAt(std::int64_t i) const { return i < 0 ? Start : Ends[2 * At[i] + (Rev[i] ? 0 : 1)]; }
    // The travel from position i to i + 1; nothing after the last piece.
    double Link(std::int64_t i) const { return i + 1 >= N ? 0 : Distance(ExitAt(i), EntryAt(i + 1)); }
    bool IsExit(std::uint32_t id) const { return ((id & 1) != 0) != (Rev[PosOf[id / 2]] != 0); }
    bool HasFixed(std::int64_t from, std::int64_t to) const  // positions [from, to]
    {
        return AnyFixed &&
               Fixed.Prefix(static_cast<std::size_t>(to + 1)) - Fixed.Prefix(static_cast<std::size_t>(from)) > 0;
    }
    bool FixedPiece(std::uint32_t piece) const { return !Pieces[piece].Reversible && !SameEnds(Pieces[piece]); }
    void Touch(std::int64_t pos)
    {
        if (pos >= 0 && pos < N)
            Touched.push_back(At[pos]);
    }

    void BuildNeighbours(TEndTree& tree, const std::function<bool(double)>& progress, double from, double to)
    {
        K = Pieces.size() <= 200000 ? 14 : 5;
        base::ReserveHuge(Near, Ends.size() * K);
        Near.resize(Ends.size() * K, kNone);
        std::vector<std::uint32_t> out;
        // In the tree's order: neighbouring queries read neighbouring memory.
        for (std::uint32_t slot = 0; slot < tree.Size(); ++slot) {
            if (progress && (slot & 8191) == 8191 &&
                !progress(from + (to - from) * slot / static_cast<double>(tree.Size()))) {
                Cancelled = true;
                return;
            }
            const std::uint32_t id = tree.Id(slot);
            tree.Nearest(slot, K, out);
            std::copy(out.begin(), out.end(), Near.begin() + static_cast<std::ptrdiff_t>(id * K));
        }
    }

    // Reverses positions [i, j].
    void Reverse(std::int64_t i, std::int64_t j)
    {
        if (Logging)
            Log.push_back({true, false, i, j, 0});
        Work += static_cast<std::uint64_t>(j - i + 1);
        for (; i < j; ++i, --j) {
            std::swap(At[i], At[j]);
            std::swap(Rev[i], Rev[j]);
            Rev[i] ^= 1;
            Rev[j] ^= 1;
            PosOf[At[i]] = i;
            PosOf[At[j]] = j;
        }
        if (i == j) {
            Rev[i] ^= 1;
        }
    }

    // Removing the links after positions i and j (i < j) and reversing what lies between.
    bool TryTwoOpt(std::int64_t i, std::int64_t j)
    {
        if (i >= j || j - i > MaxSpan || j >= N)
            return false;
        const double gain = Link(i) + Link(j) - Distance(ExitAt(i), ExitAt(j)) -
                            (j + 1 < N ? Distance(EntryAt(i + 1), EntryAt(j + 1)) : 0);
        if (gain <= kEps || HasFixed(i + 1, j))
            return false;
        Saved += gain;
        Touch(i);
        Touch(i + 1);
        Touch(j);
        Touch(j + 1);
        Reverse(i + 1, j);
        return true;
    }

    bool TwoOpt(std::uint32_t piece)
    {
        const std::int64_t p = PosOf[piece];
        const std::uint32_t* near = &Near[static_cast<std::size_t>(2 * piece) * K];
        const std::uint32_t exitId = 2 * piece + (Rev[p] ? 0 : 1);
        const std::uint32_t entryId = exitId ^ 1;
        // A new link from this piece's exit to another's exit.
        const TPoint u = ExitAt(p);
        const double out = Link(p);
        for (std::size_t k = 0; k < K; ++k) {
            const std::uint32_t w = near[(exitId & 1) * K + k];
            if (w == kNone || Distance(u, Ends[w]) >= out)
                break;
            if (!IsExit(w))
                continue;
            const std::int64_t q = PosOf[w / 2];
            if (TryTwoOpt(std::min(p, q), std::max(p, q)))
                return true;
        }
        // A new link from this piece's entry to another's entry.
        const TPoint v = EntryAt(p);
        const double in = Link(p - 1);
        for (std::size_t k = 0; k < K; ++k) {
            const std::uint32_t w = near[(entryId & 1) * K + k];
            if (w == kNone || Distance(v, Ends[w]) >= in)
                break;
            if (IsExit(w))
                continue;
            const std::int64_t q = PosOf[w / 2];
            if (TryTwoOpt(std::min(p, q) - 1, std::max(p, q) - 1))
                return true;
        }
        return false;
    }

    // Moves positions [s, e] to stand after position j, reversed or not.
    void Move(std::int64_t s, std::int64_t e, std::int64_t j, bool reversed)
    {
        if (Logging)
            Log.push_back({false, reversed, s, e, j});
        const std::int64_t len = e - s + 1;
        Block.assign(At.begin() + s, At.begin() + e + 1);
        BlockRev.assign(Rev.begin() + s, Rev.begin() + e + 1);
        if (reversed) {
            std::reverse(Block.begin(), Block.end());
            std::reverse(BlockRev.begin(), BlockRev.end());
            for (auto& r : BlockRev)
                r ^= 1;
        }
        auto place = [&](std::int64_t to, std::uint32_t piece, std::uint8_t rev) {
            if (AnyFixed && FixedPiece(piece) && PosOf[piece] != to) {
                Fixed.Add(static_cast<std::size_t>(PosOf[piece]), -1);
                Fixed.Add(static_cast<std::size_t>(to), 1);
            }
            At[to] = piece;
            Rev[to] = rev;
            PosOf[piece] = to;
        };
        std::int64_t first;
        if (j > e) {
            Work += static_cast<std::uint64_t>(j - s + 1);
            for (std::int64_t k = e + 1; k <= j; ++k)
                place(k - len, At[k], Rev[k]);
            first = j - len + 1;
        } else {
            Work += static_cast<std::uint64_t>(e - j);
            for (std::int64_t k = s - 1; k > j; --k)
                place(k + len, At[k], Rev[k]);
            first = j + 1;
        }
        for (std::int64_t k = 0; k < len; ++k)
            place(first + k, Block[static_cast<std::size_t>(k)], BlockRev[static_cast<std::size_t>(k)]);
    }

    // The gain of taking [s, e] out and putting it after position j (j outside [s - 1, e]).
    double InsertGain(std::int64_t s, std::int64_t e, std::int64_t j, bool reversed, double removed) const
    {
        const TPoint a = EntryAt(s), b = ExitAt(e);
        const TPoint first = reversed ? b : a, last = reversed ? a : b;
        const double added = Distance(ExitAt(j), first) + (j + 1 < N ? Distance(last, EntryAt(j + 1)) : 0) - Link(j);
        return removed - added;
    }

    bool TryMove(std::int64_t s, std::int64_t e, std::int64_t j, bool reversed, double removed)
    {
        if (j >= s - 1 && j <= e)
            return false;
        if (j < -1 || j >= N || std::max(std::abs(j - s), std::abs(j - e)) > MaxSpan)
            return false;
        if (reversed && HasFixed(s, e))
            return false;
        const double gain = InsertGain(s, e, j, reversed, removed);
        if (gain <= kEps)
            return false;
        Saved += gain;
        Touch(s - 1);
        Touch(e + 1);
        Touch(j);
        Touch(j + 1);
        Move(s, e, j, reversed);
        Touch(s);
        return true;
    }

    bool OrOpt(std::uint32_t piece)
    {
        const std::int64_t s = PosOf[piece];
        for (std::int64_t len = 1; len <= 3; ++len) {
            const std::int64_t e = s + len - 1;
            if (e >= N)
                break;
            const double removed = Link(s - 1) + Link(e) - (e + 1 < N ? Distance(ExitAt(s - 1), EntryAt(e + 1)) : 0);
            if (removed <= kEps)
                continue;
            // The run's entry near another piece's exit goes after that piece as it is, near
            // its entry before it reversed; the run's exit the other way round.
            for (const bool fromExit : {false, true}) {
                const TPoint end = fromExit ? ExitAt(e) : EntryAt(s);
                const std::uint32_t id = fromExit ? 2 * At[e] + (Rev[e] ? 0 : 1) : 2 * At[s] + (Rev[s] ? 1 : 0);
                for (std::size_t k = 0; k < K; ++k) {
                    const std::uint32_t w = Near[static_cast<std::size_t>(id) * K + k];
                    if (w == kNone || Distance(end, Ends[w]) >= removed)
                        break;
                    const std::int64_t q = PosOf[w / 2];
                    if (q >= s && q <= e)
                        continue;
                    const bool after = IsExit(w);
                    if (TryMove(s, e, after ? q : q - 1, after == fromExit, removed))
                        return true;
                }
            }
        }
        return false;
    }

    const std::vector<TTourPiece>& Pieces;
    const std::vector<TPoint>& Ends;
    TPoint Start;
    std::int64_t N;
    std::vector<std::uint32_t> At;
    std::vector<std::uint8_t> Rev;
    std::vector<std::int64_t> PosOf;
    TCounts Fixed;
    bool AnyFixed = false;
    std::size_t K = 8;
    std::vector<std::uint32_t> Near;  // K per end
    std::vector<std::uint32_t> Queue;
    std::size_t Head = 0;
    std::vector<std::uint8_t> Queued;
    std::vector<std::uint32_t> Touched;
    struct TChange {
        bool Reverse, Reversed;
        std::int64_t S, E, J;
    };
    std::vector<TChange> Log;
    bool Logging = false;
    double Saved = 0;
    std::uint64_t Seed = 0x9E3779B97F4A7C15ull;
    std::vector<std::uint32_t> Block;
    std::vector<std::uint8_t> BlockRev;
    std::int64_t MaxSpan = 0;
    std::uint64_t Work = 0, Budget = 0;
    bool Cancelled = false;
};

}  // namespace

double TourTravel(const std::vector<TTourPiece>& pieces, const std::vector<TTourStep>& steps, std::int32_t x,
                  std::int32_t y)
{
    TPoint at{static_cast<double>(x), static_cast<double>(y)};
    double travel = 0;
    for (const TTourStep& s : steps) {
        const TTourPiece& p = pieces[s.Piece];
        const TPoint in{static_cast<double>(s.Reversed ? p.Ex : p.Sx), static_cast<double>(s.Reversed ? p.Ey : p.Sy)};
        travel += Distance(at, in);
        at = {static_cast<double>(s.Reversed ? p.Sx : p.Ex), static_cast<double>(s.Reversed ? p.Sy : p.Ey)};
    }
    return travel;
}

std::vector<TTourStep> NearestNeighbourTour(const std::vector<TTourPiece>& pieces, std::int32_t x, std::int32_t y)
{
    TEndTree tree(EndsOf(pieces));
    return Greedy(pieces, tree, {static_cast<double>(x), static_cast<double>(y)}, {}, 1);
}

std::vector<TTourStep> OrderTour(const std::vector<TTourPiece>& pieces, std::int32_t x, std::int32_t y,
                                 const TTourOptions& options, bool* cancelled)
{
    if (cancelled)
        *cancelled = false;
    const std::vector<TPoint> ends = EndsOf(pieces);
    const TPoint start{static_cast<double>(x), static_cast<double>(y)};
    const double greedyShare = options.Improve ? 0.4 : 1.0;
    // One tree serves both passes: the neighbour lists look at every end, retired or not.
    TEndTree tree(ends);
    std::vector<TTourStep> steps = Greedy(pieces, tree, start, options.Progress, greedyShare);
    if (steps.size() != pieces.size()) {
        if (cancelled)
            *cancelled = true;
        return {};
    }
    if (options.Improve && pieces.size() > 1) {
        TImprover improver(pieces, ends, start, steps);
        if (!improver.Run(tree, options.Progress, greedyShare)) {
            if (cancelled)
                *cancelled = true;
            return {};
        }
        improver.Steps(steps);
    }
    return steps;
}
