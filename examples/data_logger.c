/* A data logger over GPRS: starts the GSM modem, opens a TCP connection to a
 * server and sends it a line of readings (battery level and voltage, the
 * power management unit's temperature) every PERIOD seconds, COUNT times (0:
 * until SIGTERM or SIGINT).  What it sends is printed ("sent: ..."), and so
 * is what the server sends back ("server: ...").
 *
 *   data_logger [HOST [PORT [PERIOD [COUNT]]]]   (default 127.0.0.1 5000 10 0)
 *
 * The GSM unit needs its task before its start-up: API_SYS_CreateTask(1, ...)
 * and only then API_GSM_Initialize, whose answers the task reads.
 *
 * On the simulated receiver the modem's peer sends back what it receives:
 *   orva-sim --at 25s battery=40 -- ./data_logger 127.0.0.1 5000 10 4 */
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "API.h"

static volatile sig_atomic_t stopping;

static void stop(int signal_number) { stopping = signal_number; }

/* Prints a failed call with the API's text for its code; the code. */
static int failed(const char *call, int result)
{
    char text[API_ERROR_TEXT_SIZE] = "";
    API_Errors_GetErrorText(result, text);
    fprintf(stderr, "data_logger: %s: %d %s\n", call, result, text);
    return result;
}

/* The access point, login and password the bearer needs, where none are
 * stored yet (a fresh receiver says "not yet defined"). */
static int set_bearer_parameters(void)
{
    char apn[API_GSM_PSD_APN_MAX + 1] = "";
    int length = sizeof apn - 1, result;
    if (API_GSM_PSD_GetAPN(apn, &length) == 0)
        return 0;
    if ((result = API_GSM_PSD_SetAPN("internet")) != 0)
        return failed("API_GSM_PSD_SetAPN", result);
    if ((result = API_GSM_PSD_SetLogin("logger")) != 0)
        return failed("API_GSM_PSD_SetLogin", result);
    if ((result = API_GSM_PSD_SetPassword("secret")) != 0)
        return failed("API_GSM_PSD_SetPassword", result);
    return 0;
}

/* Prints what the server sends back, line by line, until the socket closes. */
static void *read_server(void *unused)
{
    char buffer[256], line[256];
    size_t used = 0;
    int received, i;
    (void)unused;
    while (API_GSM_PSD_ReadData(buffer, sizeof buffer, &received) == 0) {
        for (i = 0; i < received; i++) {
            if (buffer[i] == '\n' || used == sizeof line - 1) {
                line[used] = '\0';
                printf("server: %s\n", line);
                used = 0;
            } else if (buffer[i] != '\r') {
                line[used++] = buffer[i];
            }
        }
    }
    return NULL;
}

static int run(const char *host, int port, int period, int count)
{
    char line[128];
    int result, sent = 0, written, tick;
    pthread_t reader;
    float level = 0, voltage = 0, temperature = 0;

    /* The task first: the start-up's commands are answered through it. */
    if ((result = API_SYS_CreateTask(API_TASK_GSM, 10)) != 0)
        return failed("API_SYS_CreateTask", result);
    if ((result = API_GSM_Initialize()) != 0)
        return failed("API_GSM_Initialize", result);
    if ((result = API_GSM_EnterPIN(getenv("DATA_LOGGER_PIN"))) != 0)
        return failed("API_GSM_EnterPIN", result);
    if ((result = set_bearer_parameters()) != 0)
        return result;
    if ((result = API_GSM_PSD_ConnectBearer()) != 0)
        return failed("API_GSM_PSD_ConnectBearer", result);
    if ((result = API_GSM_PSD_OpenSocketByIP(API_GSM_PSD_TCP, host, port)) != 0)
        return failed("API_GSM_PSD_OpenSocketByIP", result);
    printf("connected to %s:%d\n", host, port);
    if (pthread_create(&reader, NULL, read_server, NULL) != 0)
        return failed("pthread_create", -1);

    while (!stopping && (count == 0 || sent < count)) {
        if (API_PM_GetPowerLevel(0, &level, &voltage) != 0)
            level = voltage = -1;
        API_PM_GetTemperature(&temperature);
        snprintf(line, sizeof line, "%d: battery %.0f %%, %.2f V, %.1f C\r\n", sent + 1, level, voltage, temperature);
        if ((result = API_GSM_PSD_WriteData(line, (int)strlen(line), &written)) != 0)
            break;
        sent++;
        printf("sent: %.*s\n", (int)strlen(line) - 2, line);
        /* A second at a time, so that a signal ends the wait. */
        for (tick = 0; tick < period && !stopping; tick++)
            API_Sleep(1000);
    }
    if (result != 0)
        failed("API_GSM_PSD_WriteData", result);
    API_GSM_PSD_CloseSocket();
    pthread_join(reader, NULL);
    API_GSM_PSD_DisconnectBearer();
    printf("closed after %d lines%s\n", sent, stopping ? " (stopped)" : "");
    return result;
}

int main(int argc, char **argv)
{
    const char *host = argc > 1 ? argv[1] : "127.0.0.1";
    int port = argc > 2 ? atoi(argv[2]) : 5000;
    int period = argc > 3 ? atoi(argv[3]) : 10;
    int count = argc > 4 ? atoi(argv[4]) : 0;
    int result = API_Initialize(API_INIT_CONFIG | API_INIT_SPI | API_INIT_SIGNALS | API_INIT_PM | API_INIT_NOR |
                                API_INIT_NO_AUTOSTART);
    if (result != 0) {
        fprintf(stderr, "data_logger: API_Initialize: %d\n", result);
        return 2;
    }
    signal(SIGTERM, stop);
    signal(SIGINT, stop);
    result = run(host, port, period < 1 ? 1 : period, count);
    API_GSM_Cleanup();
    API_Finalize();
    return result == 0 ? 0 : 1;
}
