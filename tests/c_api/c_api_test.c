/* The device API from C: its headers compile as C99 and its calls work. */
#include <stdio.h>
#include <string.h>

#include "API.h"
#include "sim/c_receiver.h"

static int failures = 0;

#define CHECK(condition) (void)((condition) || (fprintf(stderr, "line %d: %s\n", __LINE__, #condition), ++failures))

int main(void)
{
    char back[4];
    int count = 0;

    if (SimReceiver_Start(NULL) != 0) {
        fprintf(stderr, "cannot start the simulated receiver\n");
        return 1;
    }
    CHECK(SimReceiver_Start(NULL) == -1);

    CHECK(API_Initialize(API_INIT_CONFIG | API_INIT_NOR | API_INIT_SIGNALS) == 0);
    CHECK(API_IsInitialized(API_INIT_NOR) == 1);
    CHECK(API_Flash_WriteData(0x39106, "abc", 4, &count) == 0 && count == 4);
    CHECK(API_Flash_ReadData(0x39106, back, 4, &count) == 0 && strcmp(back, "abc") == 0);
    API_Finalize();
    CHECK(API_IsInitialized(API_INIT_NOR) == 0);

    SimReceiver_Stop();
    CHECK(SimReceiver_Root() == NULL);
    return failures == 0 ? 0 : 1;
}
