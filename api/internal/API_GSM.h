// The GSM unit's receive task, started by API_SYS_CreateTask(1, priority).
#ifndef API_INTERNAL_GSM_H
#define API_INTERNAL_GSM_H

extern "C" void *gsm_task(void *argument);

#endif
