// The trend value and rate of change returned by the reversion index and the
// precision trend.
#pragma once

namespace lumenfold::core {

struct TrendRocOutput {
    double trend;
    double roc;
};

}  // namespace lumenfold::core
