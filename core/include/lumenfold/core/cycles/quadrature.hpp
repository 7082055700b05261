// The in-phase/quadrature front end of the Hilbert cycle measures, fed the
// four-bar smoothed price by its owner (which also decides the warm-up).
//
// QuadratureFrontEnd: the detrender (a Hilbert FIR of the smoothed price) and
// the quadrature Q1 (a Hilbert FIR of the detrender); the in-phase component
// I1 is the detrender of three bars back.
// HomodyneMeasure: the front end, both components advanced by 90 degrees with
// two more Hilbert FIRs, and the homodyne product of the smoothed phasor with
// the previous bar's, whose phase advance per bar gives the raw cycle period.
// Every FIR of one bar scales by the same period.
#pragma once

#include <vector>

#include "lumenfold/core/classic/cycle_outputs.hpp"
#include "lumenfold/core/filters/hilbert_transform.hpp"
#include "lumenfold/core/filters/homodyne.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

class QuadratureFrontEnd {
public:
    QuadratureFrontEnd() : detrender_history_(RingBuffer::from(std::vector<double>(4, 0.0))) {}

    // (I1, Q1) for the smoothed price `smooth` at `period`.
    PhasorOutput next(double smooth, double period) noexcept {
        const double det = detrender_.next(smooth, period);
        detrender_history_.pop_back();
        detrender_history_.push_front(det);
        const double q1 = quadrature_.next(det, period);
        return {detrender_history_[3], q1};
    }

private:
    HilbertFIR detrender_;
    HilbertFIR quadrature_;
    RingBuffer detrender_history_;  // the last four detrender values, newest first
};

class HomodyneMeasure {
public:
    struct Output {
        double i1;
        double q1;
        double raw_period;  // `period` itself when Re or Im is zero
    };

    Output next(double smooth, double period) noexcept {
        const PhasorOutput c = front_.next(smooth, period);
        const double ji = in_phase_advance_.next(c.in_phase, period);
        const double jq = quadrature_advance_.next(c.quadrature, period);
        product_.next(c.in_phase, c.quadrature, ji, jq);
        return {c.in_phase, c.quadrature, product_.period(period)};
    }

private:
    QuadratureFrontEnd front_;
    HilbertFIR in_phase_advance_;
    HilbertFIR quadrature_advance_;
    HomodyneProduct product_;
};

}  // namespace lumenfold::core
