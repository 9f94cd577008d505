#include "orvaflash.h"

// Skeleton entry; the load sequence arrives with the loader units.
int OrvaflashMain(int, char **) { return 1; }
