// The file pane's filters as options of `tree` and `save`.
#pragma once

#include <CLI/CLI.hpp>

#include "view/row_filter.h"

namespace brevid::cli {

// Adds --name, --min-size, --max-size, --modified-after, --modified-before,
// --recovery and --type to `sub`, filling `filter`; days are checked as
// YYYY-MM-DD, the words of the last two against their lists.
void AddFilterOptions(CLI::App* sub, RowFilter* filter);

}  // namespace brevid::cli
