#include "API_Init.h"

// Placeholder until the start-up sequence is built (issue B1).
extern "C" int API_Initialize(int) { return 0; }

// Placeholder until the start-up sequence is built (issue B1).
extern "C" void API_Finalize(void) {}

// Placeholder until the start-up sequence is built (issue B1).
extern "C" int API_IsInitialized(int) { return 0; }
