#pragma once

namespace res {

// The artwork lives in a static library, whose resources must be registered by hand before the
// first icon is loaded. Safe to call more than once.
void initResources();

} // namespace res
