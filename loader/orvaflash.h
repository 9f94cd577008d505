// The firmware loader's entry: the whole load sequence of one run.
#ifndef ORVAFLASH_H
#define ORVAFLASH_H

int OrvaflashMain(int argc, char **argv);

#endif
