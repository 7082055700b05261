// The cycle value and trigger line shared by the cyber and channel cycles.
#pragma once

namespace lumenfold::core {

struct CyberCycleOutput {
    double value;
    double trigger;
};

}  // namespace lumenfold::core
