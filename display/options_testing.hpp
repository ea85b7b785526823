#pragma once

namespace tolvane {

// For tests and benchmarks only: putting the render options back.

// Every slot back to its start-up default (PaletteFlags without a rebuild).
void resetOptions();

}  // namespace tolvane
