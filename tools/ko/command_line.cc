#include "tools/ko/command_line.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "ko/ko.h"

namespace ko::cli {

bool wantsHelp(const std::vector<std::string>& args) {
  return std::any_of(args.begin(), args.end(),
                     [](const std::string& arg) { return arg == "--help" || arg == "-h"; });
}

std::optional<Arguments> parseArguments(const std::vector<std::string>& args,
                                        const std::vector<std::string>& known,
                                        const std::vector<std::string>& flags) {
  Arguments parsed;
  for (size_t i = 0; i < args.size(); ++i) {
    if (!args[i].starts_with("--")) {
      parsed.positional.push_back(args[i]);
      continue;
    }
    const std::string name = args[i].substr(2);
    if (std::find(flags.begin(), flags.end(), name) != flags.end()) {
      parsed.options[name] = "";
      continue;
    }
    if (std::find(known.begin(), known.end(), name) == known.end()) {
      std::fprintf(stderr, "ko: unknown option '%s'\n", args[i].c_str());
      return std::nullopt;
    }
    if (i + 1 == args.size()) {
      std::fprintf(stderr, "ko: option '%s' needs a value\n", args[i].c_str());
      return std::nullopt;
    }
    parsed.options[name] = args[++i];
  }
  return parsed;
}

std::optional<int> integerAtLeast(const std::string& text, int minimum) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end || value < minimum) return std::nullopt;
  return value;
}

int usageError(const char* help) {
  std::fputs(help, stderr);
  return 2;
}

int libraryError() {
  std::fprintf(stderr, "ko: %s\n", ko_last_error());
  return 1;
}

}  // namespace ko::cli
