// NOR store operations for the start-up unit.
#ifndef API_INTERNAL_NOR_H
#define API_INTERNAL_NOR_H

extern int norfd;

// Writes the default parameter records (feature bit 0x2000 of API_Initialize,
// and the revert).  83 when a record could not be written, 81 when no staging
// buffer could be had, else 0; the start-up ignores the result.
int API_NOR_WriteDefaults(void);

#endif
