#include "update/update_driver.h"

// PLACEHOLDER: the update cycle is not built yet; update mode does nothing and exits 0.
int RunUpdateCycle(const wchar_t* /*commandLine*/) { return 0; }
