// A disk and its volumes as `brevid list --json` prints them.
#pragma once

#include <nlohmann/json.hpp>

#include "device/disk_info.h"

namespace brevid::cli {

nlohmann::json DiskJson(const DiskInfo& disk);

}  // namespace brevid::cli
