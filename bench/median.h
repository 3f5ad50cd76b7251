// The middle of a benchmark's timings: unmoved by a round that the machine slowed down.
#pragma once

#include <algorithm>
#include <vector>

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
