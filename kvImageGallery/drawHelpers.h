// Small helpers shared by the files of the drawing bridge.
#pragma once

#include <cfloat>
#include <climits>
#include <cmath>

namespace kvDraw {

// Narrows a number read from a request to the float that the libraries take. Beyond the float
// range the nearest finite float is taken, so no conversion is undefined.
inline float toFloat(double value) {
    if (value > FLT_MAX) return FLT_MAX;
    if (value < -FLT_MAX) return -FLT_MAX;
    return static_cast<float>(value);
}

// Truncates toward zero to an int32, clamping at the ends of its range.
inline int truncateToInt(double value) {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace kvDraw
