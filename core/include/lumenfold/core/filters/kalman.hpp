// Scalar Kalman filter for a constant-level model. `gain` is the process noise
// added to the error variance before every update, `noise` the measurement
// noise. The first input initialises the estimate (variance 1) and is
// returned; no division is guarded, so gain 0 with noise 0 gives NaN from the
// third bar on.
#pragma once

namespace lumenfold::core {

class KalmanFilter {
public:
    KalmanFilter(double gain, double noise) noexcept : gain_(gain), noise_(noise) {}

    double next(double z) noexcept {
        if (!initialised_) {
            estimate_ = z;
            variance_ = 1.0;
            initialised_ = true;
            return z;
        }
        const double p = variance_ + gain_;
        const double k = p / (p + noise_);
        last_gain_ = k;
        estimate_ = estimate_ + k * (z - estimate_);
        variance_ = p * (1.0 - k);
        return estimate_;
    }

    // Kalman gain of the last update (0 before the second input).
    double last_gain() const noexcept { return last_gain_; }

private:
    double gain_;
    double noise_;
    double estimate_ = 0.0;
    double variance_ = 1.0;
    double last_gain_ = 0.0;
    bool initialised_ = false;
};

}  // namespace lumenfold::core
