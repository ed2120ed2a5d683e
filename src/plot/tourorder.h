#pragma once
// The order of pieces of a drawing that keeps the pen's travel between them short: an open
// path from a fixed start through every piece, each entered at one end and left at the other.
// No sheet and no device: points and distances only.

#include <cstdint>
#include <functional>
#include <vector>

struct TTourPiece {
    std::int32_t Sx = 0, Sy = 0;  // where the piece is entered when drawn as given
    std::int32_t Ex = 0, Ey = 0;  // and where it is left
    bool Reversible = true;       // may be drawn from its end to its start
};

struct TTourStep {
    std::uint32_t Piece = 0;
    bool Reversed = false;
};

struct TTourOptions {
    // After the nearest-neighbour pass, improve the path by reversing stretches of it and by
    // moving short runs of pieces elsewhere.
    bool Improve = true;
    // Called now and then with the share of the work done (0 to 1); returning false cancels.
    std::function<bool(double)> Progress;
};

// Length of the travel from (x, y) through the steps.
double TourTravel(const std::vector<TTourPiece>& pieces, const std::vector<TTourStep>& steps, std::int32_t x,
                  std::int32_t y);

// The order of the pieces starting from (x, y); empty only when cancelled (or no pieces).
// The same input always gives the same order.
std::vector<TTourStep> OrderTour(const std::vector<TTourPiece>& pieces, std::int32_t x, std::int32_t y,
                                 const TTourOptions& options, bool* cancelled = nullptr);

// The nearest-neighbour pass alone: from where the pen is, always the nearest end of a piece
// not yet drawn (a reversible piece by either end).
std::vector<TTourStep> NearestNeighbourTour(const std::vector<TTourPiece>& pieces, std::int32_t x, std::int32_t y);
