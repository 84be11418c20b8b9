// The commands of `brevid`, one file each.
#pragma once

#include <CLI/CLI.hpp>

namespace brevid::cli {

// Exit statuses: 0 everything asked was done whole, 1 failure, refusal or
// any loss, 2 bad usage, 130 stopped by the user after keeping what was done.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 130;

// Registers the command on `app`; the returned callback runs it once parsed.
struct Command {
  CLI::App* sub = nullptr;
  std::function<int()> run;
};

Command AddListCommand(CLI::App& app);
Command AddTreeCommand(CLI::App& app);
Command AddSaveCommand(CLI::App& app);
Command AddFindPartitionsCommand(CLI::App& app);
Command AddDeepScanCommand(CLI::App& app);
Command AddResultsCommand(CLI::App& app);
Command AddImageCommand(CLI::App& app);
Command AddCatCommand(CLI::App& app);

}  // namespace brevid::cli
