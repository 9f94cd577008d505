// The push buttons' descriptor and the boot-time state read once from NOR.
#ifndef API_INTERNAL_MMI_H
#define API_INTERNAL_MMI_H

extern int ifd_pb;                   // 0 or negative: not open
extern int s_bt_read;                // the boot state was read and cleared in NOR
extern unsigned char s_bt_state[2];  // held at start: record, scroll
#endif
