// The parts of a signer's key that need no cryptography, for every build.
#include <cstring>

#include "engine/read/installer_signature.h"

namespace {

const char HEX[] = "0123456789ABCDEF";

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void hex_of(const uint8_t* bytes, size_t n, char* out) {
  for (size_t i = 0; i < n; i++) {
    out[2 * i] = HEX[bytes[i] >> 4];
    out[2 * i + 1] = HEX[bytes[i] & 15];
  }
}

}  // namespace

void key_id_text(const uint8_t id[SIGNER_ID_SIZE], char out[KEY_ID_TEXT_SIZE]) {
  // minisign shows the ID as a little-endian number.
  uint8_t reversed[SIGNER_ID_SIZE];
  for (size_t i = 0; i < SIGNER_ID_SIZE; i++) reversed[i] = id[SIGNER_ID_SIZE - 1 - i];
  hex_of(reversed, SIGNER_ID_SIZE, out);
  out[2 * SIGNER_ID_SIZE] = 0;
}

bool signer_key_equal(const SignerKey& a, const SignerKey& b) {
  return memcmp(a.id, b.id, SIGNER_ID_SIZE) == 0 && memcmp(a.public_key, b.public_key, SIGNER_PUBLIC_SIZE) == 0;
}

void signer_key_hex(const SignerKey& key, char out[SIGNER_HEX_SIZE]) {
  hex_of(key.id, SIGNER_ID_SIZE, out);
  hex_of(key.public_key, SIGNER_PUBLIC_SIZE, out + 2 * SIGNER_ID_SIZE);
  out[SIGNER_HEX_SIZE - 1] = 0;
}

int signer_key_from_hex(const char* text, size_t length, SignerKey* key) {
  if (length != SIGNER_HEX_SIZE - 1) return -1;
  uint8_t bytes[SIGNER_ID_SIZE + SIGNER_PUBLIC_SIZE];
  for (size_t i = 0; i < sizeof bytes; i++) {
    int high = digit_value(text[2 * i]), low = digit_value(text[2 * i + 1]);
    if (high < 0 || low < 0) return -1;
    bytes[i] = uint8_t(high << 4 | low);
  }
  memcpy(key->id, bytes, SIGNER_ID_SIZE);
  memcpy(key->public_key, bytes + SIGNER_ID_SIZE, SIGNER_PUBLIC_SIZE);
  return 0;
}
