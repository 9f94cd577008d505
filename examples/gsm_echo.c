/* A line to a server and its answer, over the GSM modem's packet data:
 * starts the device API and the modem, opens a TCP socket towards ADDRESS
 * PORT, sends TEXT and a line feed, prints what comes back until as many
 * bytes came or the server closed, then closes the socket and the bearer.
 *
 *   usage: gsm_echo ADDRESS PORT [TEXT]
 *
 * On the development machine, orva-sim's --gsm-bridge carries the socket to
 * a server of that machine:
 *
 *   orva-sim --gsm-bridge 7000 -- ./gsm_echo 192.0.2.10 7 hello
 *
 * Exit status 0 when the whole line came back, 1 otherwise. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "API.h"

static int check(int result, const char *call)
{
    if (result != 0) {
        char text[API_ERROR_TEXT_SIZE] = "";
        API_Errors_GetErrorText(result, text);
        fprintf(stderr, "gsm_echo: %s: %d %s\n", call, result, text);
    }
    return result;
}

int main(int argc, char **argv)
{
    char line[256], answer[256];
    int length, got = 0, count = 0, ok;

    if (argc < 3 || argc > 4) {
        fprintf(stderr, "usage: gsm_echo ADDRESS PORT [TEXT]\n");
        return 2;
    }
    length = snprintf(line, sizeof line, "%s\n", argc == 4 ? argv[3] : "hello");
    if (length >= (int)sizeof line) {
        fprintf(stderr, "gsm_echo: the text is too long\n");
        return 2;
    }

    ok = check(API_Initialize(API_INIT_CONFIG | API_INIT_SPI | API_INIT_SIGNALS | API_INIT_PM | API_INIT_NOR |
                              API_INIT_NO_AUTOSTART),
               "API_Initialize") == 0;
    /* The modem's answers are read by the GSM task, which the start-up needs. */
    ok = ok && check(API_SYS_CreateTask(API_TASK_GSM, 10), "API_SYS_CreateTask") == 0;
    ok = ok && check(API_GSM_Initialize(), "API_GSM_Initialize") == 0;
    ok = ok && check(API_GSM_PSD_SetAPN("internet"), "API_GSM_PSD_SetAPN") == 0;
    ok = ok && check(API_GSM_PSD_SetLogin("guest"), "API_GSM_PSD_SetLogin") == 0;
    ok = ok && check(API_GSM_PSD_SetPassword("guest"), "API_GSM_PSD_SetPassword") == 0;
    ok = ok &&
         check(API_GSM_PSD_OpenSocketByIP(API_GSM_PSD_TCP, argv[1], atoi(argv[2])), "API_GSM_PSD_OpenSocketByIP") == 0;
    ok = ok && check(API_GSM_PSD_WriteData(line, length, &count), "API_GSM_PSD_WriteData") == 0;
    while (ok && got < length && API_GSM_PSD_ReadData(answer + got, length - got, &count) == 0)
        got += count;
    if (ok) {
        printf("sent %d bytes, received %d: %.*s", length, got, got, answer);
        if (got == 0 || answer[got - 1] != '\n')
            printf("\n");
        check(API_GSM_PSD_CloseSocket(), "API_GSM_PSD_CloseSocket");
        check(API_GSM_PSD_DisconnectBearer(), "API_GSM_PSD_DisconnectBearer");
    }
    API_GSM_Cleanup();
    API_Finalize();
    return ok && got == length && memcmp(line, answer, (size_t)length) == 0 ? 0 : 1;
}
