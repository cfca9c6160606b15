#pragma once

namespace Lumetra {

// Name, maker and version of the application, set on the application object
// before any window exists; the settings store is scoped by the first two.
void setApplicationIdentity();

} // namespace Lumetra
