/* Vendor Kit - the one header. */
#ifndef VENDOR_H
#define VENDOR_H
#define VENDOR_KIT_VERSION "2.3.1"
int vendor_answer(void);
#endif
