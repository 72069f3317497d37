// What every `ko` subcommand shares: its table entry, argument parsing, and the two ways it fails
// (a usage error, exit 2, or the library's last-error text, exit 1).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ko::cli {

struct Command {
  const char* name;
  const char* help;  // starts with the "usage: ko ..." line
  int (*run)(const std::vector<std::string>& args);
};

// Positional arguments and "--name value" options, in the order given.
struct Arguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;
};

bool wantsHelp(const std::vector<std::string>& args);

// Splits args; nullopt (after printing why) on an option not in `known` or one missing its value.
// Options named in `flags` take no value and are stored with an empty one.
std::optional<Arguments> parseArguments(const std::vector<std::string>& args,
                                        const std::vector<std::string>& known,
                                        const std::vector<std::string>& flags = {});

// A whole decimal number of at least `minimum`; nullopt otherwise.
std::optional<int> integerAtLeast(const std::string& text, int minimum);

int usageError(const char* help);
// Prints "ko: " and the library's last error; returns 1.
int libraryError();

}  // namespace ko::cli
