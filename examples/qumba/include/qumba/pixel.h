/* QUMBA 'C' Library - pixel formats. */
#ifndef QUMBA_PIXEL_H
#define QUMBA_PIXEL_H

typedef enum QumbaPixelFormat {
  QUMBA_GREY8 = 1,   /* one byte per pixel */
  QUMBA_RGB24 = 3,   /* red, green, blue */
  QUMBA_RGBA32 = 4,  /* red, green, blue, alpha */
} QumbaPixelFormat;

/* Bytes per pixel of a format; the enumeration's values are chosen so. */
#define QUMBA_PIXEL_BYTES(format) ((unsigned)(format))

#endif
