// The start value of every search for a smallest distance.
#pragma once

// The largest finite double (bit pattern 0x7FEFFFFFFFFFFFFF): stands for
// "no distance yet" wherever a minimum is sought, so that the first finite
// distance replaces it and a NaN never does.
inline constexpr double no_distance = 1.7976931348623157e308;
