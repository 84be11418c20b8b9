// brevid: the command-line front end.
#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "cli/commands.h"
#include "cli/terminal.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  brevid::cli::InstallTerminalMessageBoxes();

  CLI::App app{"Brevid: recovers deleted files, folders and partitions from disks and images"};
  app.require_subcommand(1);
  std::vector<brevid::cli::Command> commands = {
      brevid::cli::AddListCommand(app),     brevid::cli::AddTreeCommand(app),
      brevid::cli::AddSaveCommand(app),     brevid::cli::AddFindPartitionsCommand(app),
      brevid::cli::AddDeepScanCommand(app), brevid::cli::AddResultsCommand(app),
      brevid::cli::AddImageCommand(app)};

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
    std::_Exit(status);
  }
  return brevid::cli::kExitUsage;
}
