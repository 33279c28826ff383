// Entry point of dumpkeep: parse the command line, set up the session and the
// logs, run one command, and turn its outcome into output and an exit code.
#include <iostream>

#include "cli/commands.h"
#include "cli/options.h"
#include "errors/loggable_exceptions.h"
#include "log/debug_log.h"
#include "log/session.h"
#include "log/start_stop_logger.h"
#include "repository/repository.h"

using namespace ovrin;

namespace {

// Runs the command under the handlers that map failures to exit codes.
// Anything they do not handle goes on to main's handlers with the exit code
// already recorded as 1.
int RunHandled(const po::variables_map& vm, const CommandLineOptions& descriptions, StartStopLogger& record) {
  int code = 0;
  try {
    code = RunCommand(vm);
    if (code == -1) {
      PrintHelp(descriptions.visible);
      code = 0;
    }
    tRepository::Free();
  } catch (const TransportException& e) {
    LogMsg(e);
    std::cout << e.what() << "\n";
    code = TransportExitCode(e.status);
  } catch (const RepositoryException& e) {
    LogMsg(e);
    std::cout << e.what() << "\n";
    code = RepositoryExitCode(e.status);
  } catch (const ExTraceable& e) {
    if (theDebugLog) theDebugLog->log(e);
    std::cout << e.what() << "\n";
    code = 1;
  } catch (...) {
    record.setExitCode(1);
    throw;
  }
  record.setExitCode(code);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  int code = 0;
  try {
    CommandLineOptions descriptions;
    po::variables_map vm = ParseCommandLine(descriptions, argc, argv);
    if (vm.empty() || vm.count("help")) {
      PrintHelp(descriptions.visible);
      return 1;
    }
    SessionLifetimeController session(vm["session-path"].as<std::string>());
    DebugLogLifetimeController debugLog(vm.count("verbose") > 0, vm.count("debug") > 0);
    StartStopLogger record("dumpkeep", argc, argv);
    code = RunHandled(vm, descriptions, record);
  } catch (const std::exception& e) {
    if (theDebugLog) theDebugLog->log(std::string(e.what()));
    std::cout << "Error: " << e.what() << "\n";
    code = 1;
  } catch (...) {
    if (theDebugLog) theDebugLog->log(std::string("Unknown error"));
    std::cout << "Unknown error\n";
    code = 1;
  }
  std::cout.flush();
  return code;
}
