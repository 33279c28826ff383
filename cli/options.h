// The command line: three option groups, the help page and option checks.
#pragma once

#include <string>

#include <boost/program_options.hpp>

namespace ovrin {

namespace po = boost::program_options;

struct CommandLineOptions {
  CommandLineOptions();
  po::options_description commands;  // "Allowed commands"
  po::options_description options;   // "Allowed options"
  po::options_description hidden;    // "Hidden commands"
  po::options_description all;       // what the parser sees
  po::options_description visible;   // what the help page shows
};

// Parses with the library's default style; raises its exceptions on errors,
// a bare word (no positional option is declared) among them.
po::variables_map ParseCommandLine(const CommandLineOptions& descriptions, int argc, char** argv);

// Raises MissingOptionError with `name` when the map holds no value for it.
void CheckOption(const po::variables_map& vm, const std::string& name);

// Writes every option of `visible` as "entry<pad>  help\n\n", padded to the longest entry.
void PrintHelp(const po::options_description& visible);

}  // namespace ovrin
