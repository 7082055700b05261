// Helpers shared by the core test files.
#pragma once

#include <vector>

namespace lumenfold::test {

// Feeds every value to a fresh copy of `ind` and collects the outputs.
template <class T>
std::vector<double> run(T ind, const std::vector<double>& xs) {
    std::vector<double> out;
    out.reserve(xs.size());
    for (double x : xs) out.push_back(ind.next(x));
    return out;
}

}  // namespace lumenfold::test
