// Tests build their fixtures with the project's authoring tools (models, directors, bundles) and
// name them as their own.
#pragma once

#include "tools/authoring/bundle_builder.h"
#include "tools/authoring/compose_tail.h"
#include "tools/authoring/compose_v2_structure.h"
#include "tools/authoring/director_model.h"
#include "tools/authoring/lip_template.h"
#include "tools/authoring/model_writer.h"

namespace ko::test {
using namespace ko::authoring;
}  // namespace ko::test
