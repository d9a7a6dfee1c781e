/* QUMBA 'C' Library - version of these headers. */
#ifndef QUMBA_VERSION_H
#define QUMBA_VERSION_H

#define QUMBA_VERSION_MAJOR 7
#define QUMBA_VERSION_MINOR 1
#define QUMBA_VERSION_TEXT "7.1"

/* The version of the library the program runs with, as "7.1". */
const char* qumba_version(void);

#endif
