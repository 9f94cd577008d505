/* Driver signals: SIGUSR2 (pending-event word of "/dev/gpio") and SIGIO. */
#ifndef API_SIGNAL_H
#define API_SIGNAL_H

#ifdef __cplusplus
extern "C" {
#endif

/* Pending-event bits of the GPIO driver. */
#define API_EVENT_GNSS_PPS 0x01
#define API_EVENT_USB_CONNECTED 0x02
#define API_EVENT_USB_DISCONNECTED 0x04
#define API_EVENT_GSM_DCD 0x20
#define API_EVENT_POWER 0x40

int API_Signal_Initialize(void);
int API_Signal_Cleanup(void);

#ifdef __cplusplus
}
#endif

#endif
