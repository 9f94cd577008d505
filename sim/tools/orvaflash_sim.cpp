// orvaflash-sim [sim options] -- <orvaflash arguments>
#include "orvaflash.h"
#include "sim/receiver.h"

int main(int argc, char **argv)
{
    sim::Receiver receiver;
    return OrvaflashMain(argc, argv);
}
