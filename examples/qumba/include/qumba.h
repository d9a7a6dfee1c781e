/* QUMBA 'C' Library - image buffers, pixel formats and simple filters.
 *
 * Include this one header; it brings in the others. Every function returns
 * QUMBA_OK (0) or a negative QUMBA_E_ code and never allocates behind the
 * caller's back except in qumba_image_create. */
#ifndef QUMBA_H
#define QUMBA_H

#include <stddef.h>
#include <stdint.h>

#include "qumba/version.h"
#include "qumba/pixel.h"

#ifdef __cplusplus
extern "C" {
#endif

#define QUMBA_OK 0
#define QUMBA_E_ARGUMENT (-1)
#define QUMBA_E_MEMORY (-2)
#define QUMBA_E_FORMAT (-3)

typedef struct QumbaImage {
  uint32_t width;
  uint32_t height;
  uint32_t stride;        /* bytes from one row to the next */
  QumbaPixelFormat format;
  uint8_t* pixels;        /* owned by the image */
} QumbaImage;

/* A new image of width x height pixels, every byte zero. */
int qumba_image_create(QumbaImage* image, uint32_t width, uint32_t height, QumbaPixelFormat format);
void qumba_image_release(QumbaImage* image);

/* The address of pixel (x, y), or NULL outside the image. */
uint8_t* qumba_pixel_at(const QumbaImage* image, uint32_t x, uint32_t y);

/* Replaces every pixel by the mean of its 3 x 3 neighbourhood; the border
 * repeats the outermost rows and columns. */
int qumba_box_blur(QumbaImage* image);

/* Converts to 8-bit grey with the weights 77, 150, 29 (out of 256). */
int qumba_to_grey(const QumbaImage* source, QumbaImage* grey);

#ifdef __cplusplus
}
#endif

#endif
