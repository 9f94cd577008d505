#include "API_UHF_RX_PacificCrest.h"

// Placeholder until the PMU link is built (issue B2).
extern "C" int API_UHF_RX_PacificCrest_TurnOn(int) { return 0; }
