#include "orvaflash.h"

int main(int argc, char **argv) { return OrvaflashMain(argc, argv); }
