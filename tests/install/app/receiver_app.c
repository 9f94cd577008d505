/* A receiver application as its authors would write it: the umbrella header
 * and a few operations of the installed device API.  Built, never run. */
#include <API.h>
#include <stdio.h>

int main(void)
{
    char text[256];
    int error = API_Initialize(API_INIT_CONFIG | API_INIT_SPI | API_INIT_PM);

    if (error != 0) {
        API_Errors_GetErrorText(error, text);
        printf("start-up failed: %s\n", text);
        return 1;
    }
    API_Finalize();
    return 0;
}
