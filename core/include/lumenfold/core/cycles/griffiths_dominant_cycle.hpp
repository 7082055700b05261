// Griffiths dominant cycle: the period in bars, among the integers
// lower_bound..=upper_bound, where the Griffiths adaptive filter's all-pole
// model is strongest, allowed to move by at most 2 bars per bar. Until the
// window first holds `length` values the output is
// (lower_bound + upper_bound)/2; among equal powers the lower period wins and a
// NaN power never does, so a NaN input freezes the output.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lumenfold/core/cycles/griffiths.hpp"
#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

class GriffithsDominantCycle {
public:
    GriffithsDominantCycle(std::uint64_t lower_bound, std::uint64_t upper_bound, std::uint64_t length)
        : model_(lower_bound, upper_bound, length), cycle_(to_f64(lower_bound + upper_bound) * 0.5) {}

    double next(double x) {
        if (!model_.next(x)) return cycle_;
        double best = 0.0;
        double candidate = cycle_;
        if (model_.tabulated()) {
            const std::size_t periods = static_cast<std::size_t>(model_.upper_bound() - model_.lower_bound() + 1);
            const std::size_t j = lanes::strongest_power(model_.powers(), periods, best);
            if (j < periods) candidate = to_f64(model_.lower_bound() + j);
        } else {
            model_.sweep([&](std::uint64_t p, double power) {
                if (power > best) {
                    best = power;
                    candidate = to_f64(p);
                }
            });
        }
        const double prev = cycle_;
        if (candidate > prev + 2.0) {
            cycle_ = prev + 2.0;
        } else if (candidate < prev - 2.0) {
            cycle_ = prev - 2.0;
        } else {
            cycle_ = candidate;
        }
        return cycle_;
    }

private:
    GriffithsSweep model_;
    double cycle_;  // the last output
};

}  // namespace lumenfold::core
