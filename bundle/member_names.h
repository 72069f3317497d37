// Bundle member names: the legacy-to-current alias rules and member lookup.
#pragma once

#include <string>

namespace ko {

// The current name of a legacy member name (alias table, render-network rule, drive-table rule),
// or the name itself when it has no alias.
std::string canonicalMember(const std::string& name);

// The path to open for a member asked for by its legacy name: the legacy file when it opens, else
// the current-name file when it opens, else the legacy path (so the caller's open fails with the
// name it asked for). A name without alias is joined to the directory without probing.
std::string resolveMember(const std::string& dir, const std::string& name);

}  // namespace ko
