#pragma once

#include "printservice.h"
#include "targetset.h"

#include <optional>

namespace Lumetra {

// The questions asked before a target is taken or printed, as warnings the window shows with
// Continue and Cancel and the command line states on its error output.

// The set carries embedded profiles, which are ignored; nothing when no page carries one.
std::optional<PrintWarning> profileWarning(const TargetSet& set);

// Pages reach beyond the settings' sheet at their own print size; nothing when every page fits.
std::optional<PrintWarning> cropWarning(const TargetSet& set, const PrintSettings& settings);

// The name the user sees for an embedded profile: its own description, or a plain word for one.
QString profileName(const PrintableImage& image);

} // namespace Lumetra
