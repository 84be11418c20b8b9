// brevid: the command-line front end.
#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "cli/commands.h"
#include "cli/terminal.h"

#if defined(__SANITIZE_ADDRESS__)
#define BREVID_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BREVID_LEAK_CHECK 1
#endif
#endif
#ifdef BREVID_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  brevid::cli::InstallTerminalMessageBoxes();

  CLI::App app{"Brevid: recovers deleted files, folders and partitions from disks and images"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "brevid " BREVID_VERSION);
  app.footer(
      "Exit status of every command: 0 when everything asked was done whole; 1 on a failure, "
      "a refusal or any loss (the summary names it); 2 on bad usage; 130 when stopped with "
      "Ctrl-C, after keeping what was done. No output ever reaches a source: the same file, "
      "a loop device over it, its disk or partitions, or a file system mounted from them.");
  std::vector<brevid::cli::Command> commands = {
      brevid::cli::AddListCommand(app),     brevid::cli::AddTreeCommand(app),
      brevid::cli::AddSaveCommand(app),     brevid::cli::AddFindPartitionsCommand(app),
      brevid::cli::AddDeepScanCommand(app), brevid::cli::AddResultsCommand(app),
      brevid::cli::AddImageCommand(app),    brevid::cli::AddCatCommand(app)};

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return e.get_exit_code() == 0 ? code : brevid::cli::kExitUsage;
  }
  for (const auto& command : commands) {
    if (!command.sub->parsed()) continue;
    int status = command.run();
    // A tree of a million nodes takes long to take apart, and the process
    // ends anyway: output is flushed, files are closed, and the memory goes.
    std::fflush(stdout);
    std::fflush(stderr);
#ifdef BREVID_LEAK_CHECK
    // The fast exit skips the sanitizer's own check at exit; what the
    // command left behind is checked here instead (a leak fails the run).
    __lsan_do_leak_check();
#endif
    std::_Exit(status);
  }
  return brevid::cli::kExitUsage;
}
