#pragma once
#include <climits>

// Truncation toward zero into an int that saturates instead of being undefined
// for values outside the int range (and gives 0 for NaN): points far outside
// the world must not turn into undefined behaviour.
inline int TruncToInt(double value) {
    if (!(value == value)) return 0;
    if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(value);
}
