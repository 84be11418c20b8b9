// One run of a non-resident attribute's data.
#pragma once

#include <cstdint>
#include <map>

namespace brevid {

struct DataRun {
  uint32_t runIndex = 0;
  uint32_t startCluster = 0;  // absolute; 0 for a run without a location (sparse)
  uint32_t length = 0;        // clusters
};

// Runs keyed by their index, in order.
using DataRunMap = std::map<uint32_t, DataRun>;

}  // namespace brevid
