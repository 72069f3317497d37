// The subcommands of `ko`, one file each (bundle_commands.cc holds the three container commands).
#pragma once

#include "tools/ko/command_line.h"

namespace ko::cli {

extern const Command kInfoCommand;
extern const Command kRenderCommand;
extern const Command kSpeakCommand;
extern const Command kPackCommand;
extern const Command kUnpackCommand;
extern const Command kMemberCommand;

}  // namespace ko::cli
