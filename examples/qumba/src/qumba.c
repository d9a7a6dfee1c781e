/* QUMBA 'C' Library - the reference implementation of qumba.h. */
#include "qumba.h"

#include <stdlib.h>
#include <string.h>

const char* qumba_version(void) { return QUMBA_VERSION_TEXT; }

int qumba_image_create(QumbaImage* image, uint32_t width, uint32_t height, QumbaPixelFormat format) {
  if (!image || width == 0 || height == 0) return QUMBA_E_ARGUMENT;
  if (format != QUMBA_GREY8 && format != QUMBA_RGB24 && format != QUMBA_RGBA32) return QUMBA_E_FORMAT;
  size_t stride = (size_t)width * QUMBA_PIXEL_BYTES(format);
  if (stride / QUMBA_PIXEL_BYTES(format) != width || stride > UINT32_MAX) return QUMBA_E_ARGUMENT;
  uint8_t* pixels = calloc(height, stride);
  if (!pixels) return QUMBA_E_MEMORY;
  image->width = width;
  image->height = height;
  image->stride = (uint32_t)stride;
  image->format = format;
  image->pixels = pixels;
  return QUMBA_OK;
}

void qumba_image_release(QumbaImage* image) {
  if (!image) return;
  free(image->pixels);
  memset(image, 0, sizeof *image);
}

uint8_t* qumba_pixel_at(const QumbaImage* image, uint32_t x, uint32_t y) {
  if (!image || !image->pixels || x >= image->width || y >= image->height) return NULL;
  return image->pixels + (size_t)y * image->stride + (size_t)x * QUMBA_PIXEL_BYTES(image->format);
}

static uint32_t clamp_index(long i, uint32_t n) { return i < 0 ? 0 : i >= (long)n ? n - 1 : (uint32_t)i; }

int qumba_box_blur(QumbaImage* image) {
  if (!image || !image->pixels) return QUMBA_E_ARGUMENT;
  size_t size = (size_t)image->height * image->stride;
  uint8_t* copy = malloc(size);
  if (!copy) return QUMBA_E_MEMORY;
  memcpy(copy, image->pixels, size);
  unsigned bytes = QUMBA_PIXEL_BYTES(image->format);
  for (uint32_t y = 0; y < image->height; y++) {
    for (uint32_t x = 0; x < image->width; x++) {
      for (unsigned c = 0; c < bytes; c++) {
        unsigned sum = 0;
        for (int dy = -1; dy <= 1; dy++)
          for (int dx = -1; dx <= 1; dx++) {
            uint32_t sx = clamp_index((long)x + dx, image->width), sy = clamp_index((long)y + dy, image->height);
            sum += copy[(size_t)sy * image->stride + (size_t)sx * bytes + c];
          }
        image->pixels[(size_t)y * image->stride + (size_t)x * bytes + c] = (uint8_t)((sum + 4) / 9);
      }
    }
  }
  free(copy);
  return QUMBA_OK;
}

int qumba_to_grey(const QumbaImage* source, QumbaImage* grey) {
  if (!source || !source->pixels || !grey) return QUMBA_E_ARGUMENT;
  int result = qumba_image_create(grey, source->width, source->height, QUMBA_GREY8);
  if (result != QUMBA_OK) return result;
  for (uint32_t y = 0; y < source->height; y++) {
    for (uint32_t x = 0; x < source->width; x++) {
      const uint8_t* p = qumba_pixel_at(source, x, y);
      uint8_t* g = qumba_pixel_at(grey, x, y);
      *g = source->format == QUMBA_GREY8 ? p[0] : (uint8_t)((77u * p[0] + 150u * p[1] + 29u * p[2]) >> 8);
    }
  }
  return QUMBA_OK;
}
