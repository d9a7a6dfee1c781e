#include "engine/read/installer_signature.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sodium/crypto_generichash_blake2b.h>
#include <sodium/crypto_sign_ed25519.h>
#include <sodium/utils.h>

namespace {

constexpr size_t PUBLIC_KEY_BYTES = 2 + SIGNER_ID_SIZE + SIGNER_PUBLIC_SIZE;
constexpr size_t SIGNATURE_BYTES = 2 + SIGNER_ID_SIZE + SIGNATURE_SIZE;
constexpr char TRUSTED_PREFIX[] = "trusted comment: ";
constexpr char UNTRUSTED_PREFIX[] = "untrusted comment: ";
constexpr size_t KEY_FILE_MAX = 4096;

// One line of `text` from `*at`: its start and length without the '\n'
// (and a '\r' before it). False at the end of the text.
bool next_line(const char* text, size_t length, size_t* at, const char** line, size_t* line_length) {
  if (*at >= length) return false;
  const char* start = text + *at;
  const char* newline = static_cast<const char*>(memchr(start, '\n', length - *at));
  size_t n = newline ? size_t(newline - start) : length - *at;
  *at += n + (newline ? 1 : 0);
  if (n > 0 && start[n - 1] == '\r') n--;
  *line = start;
  *line_length = n;
  return true;
}

bool has_prefix(const char* line, size_t length, const char* prefix) {
  size_t n = strlen(prefix);
  return length >= n && memcmp(line, prefix, n) == 0;
}

// Exactly `size` bytes of base64 in `line` (surrounding blanks allowed).
bool decode(const char* line, size_t length, uint8_t* out, size_t size) {
  while (length > 0 && (line[0] == ' ' || line[0] == '\t')) line++, length--;
  while (length > 0 && (line[length - 1] == ' ' || line[length - 1] == '\t')) length--;
  size_t decoded = 0;
  const char* end = nullptr;
  if (sodium_base642bin(out, size, line, length, nullptr, &decoded, &end, sodium_base64_VARIANT_ORIGINAL) != 0)
    return false;
  return decoded == size && end == line + length;
}

bool read_fully(int fd, uint8_t* out, size_t size, uint64_t offset) {
  while (size > 0) {
    ssize_t n = pread(fd, out, size, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    out += n;
    size -= size_t(n);
    offset += uint64_t(n);
  }
  return true;
}

int parse_block(const char* text, size_t length, InstallerSignature* s) {
  size_t at = 0;
  const char* line;
  size_t n;
  uint8_t signature[SIGNATURE_BYTES];
  if (!next_line(text, length, &at, &line, &n) || !has_prefix(line, n, UNTRUSTED_PREFIX))
    return FAILURE_SIGNATURE_MALFORMED;
  // Only the prehashed form: the legacy one would need the whole file in memory.
  if (!next_line(text, length, &at, &line, &n) || !decode(line, n, signature, sizeof signature) ||
      memcmp(signature, "ED", 2) != 0)
    return FAILURE_SIGNATURE_MALFORMED;
  memcpy(s->signature, signature + 2 + SIGNER_ID_SIZE, SIGNATURE_SIZE);
  if (!next_line(text, length, &at, &line, &n) || !has_prefix(line, n, TRUSTED_PREFIX))
    return FAILURE_SIGNATURE_MALFORMED;
  size_t comment = n - (sizeof TRUSTED_PREFIX - 1);
  if (comment >= TRUSTED_COMMENT_MAX || memchr(line, 0, n)) return FAILURE_SIGNATURE_MALFORMED;
  memcpy(s->trusted_comment, line + sizeof TRUSTED_PREFIX - 1, comment);
  s->trusted_comment[comment] = 0;
  if (!next_line(text, length, &at, &line, &n) || !decode(line, n, s->global_signature, SIGNATURE_SIZE))
    return FAILURE_SIGNATURE_MALFORMED;
  if (!next_line(text, length, &at, &line, &n) || signer_key_parse(line, n, &s->key) != 0 ||
      memcmp(s->key.id, signature + 2, SIGNER_ID_SIZE) != 0 || at != length)
    return FAILURE_SIGNATURE_MALFORMED;
  return FAILURE_NONE;
}

}  // namespace

bool signatures_supported() { return true; }

void signer_key_format(const SignerKey& key, char out[PUBLIC_KEY_TEXT_SIZE]) {
  uint8_t bytes[PUBLIC_KEY_BYTES] = {'E', 'd'};
  memcpy(bytes + 2, key.id, SIGNER_ID_SIZE);
  memcpy(bytes + 2 + SIGNER_ID_SIZE, key.public_key, SIGNER_PUBLIC_SIZE);
  sodium_bin2base64(out, PUBLIC_KEY_TEXT_SIZE, bytes, sizeof bytes, sodium_base64_VARIANT_ORIGINAL);
}

int signer_key_parse(const char* text, size_t length, SignerKey* key) {
  size_t at = 0;
  const char* line;
  size_t n;
  while (next_line(text, length, &at, &line, &n)) {
    if (n == 0 || has_prefix(line, n, UNTRUSTED_PREFIX)) continue;
    uint8_t bytes[PUBLIC_KEY_BYTES];
    if (!decode(line, n, bytes, sizeof bytes) || memcmp(bytes, "Ed", 2) != 0) return -1;
    memcpy(key->id, bytes + 2, SIGNER_ID_SIZE);
    memcpy(key->public_key, bytes + 2 + SIGNER_ID_SIZE, SIGNER_PUBLIC_SIZE);
    return 0;
  }
  return -1;
}

int signer_key_read(const char* argument, SignerKey* key) {
  if (signer_key_parse(argument, strlen(argument), key) == 0) return FAILURE_NONE;
  // A FIFO or a device must not hold the installer up.
  int fd = open(argument, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return FAILURE_PUBLIC_KEY;
  struct stat st;
  char text[KEY_FILE_MAX];
  ssize_t n = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < off_t(sizeof text)
                  ? read(fd, text, sizeof text)
                  : -1;
  close(fd);
  if (n < 0 || signer_key_parse(text, size_t(n), key) != 0) return FAILURE_PUBLIC_KEY;
  return FAILURE_NONE;
}

int installer_signature_find(int fd, InstallerSignature* s) {
  struct stat st;
  if (fstat(fd, &st) != 0) return FAILURE_SIGNATURE_READ;
  uint64_t size = uint64_t(st.st_size);
  uint8_t trailer[SIGNATURE_TRAILER_SIZE];
  if (!S_ISREG(st.st_mode) || size < SIGNATURE_TRAILER_SIZE) return FAILURE_SIGNATURE_MISSING;
  if (!read_fully(fd, trailer, sizeof trailer, size - SIGNATURE_TRAILER_SIZE)) return FAILURE_SIGNATURE_READ;
  if (memcmp(trailer + 4, SIGNATURE_MAGIC, 8) != 0) return FAILURE_SIGNATURE_MISSING;
  uint32_t length = uint32_t(trailer[0]) | uint32_t(trailer[1]) << 8 | uint32_t(trailer[2]) << 16 |
                    uint32_t(trailer[3]) << 24;
  if (length > SIGNATURE_TEXT_MAX || length > size - SIGNATURE_TRAILER_SIZE) return FAILURE_SIGNATURE_MALFORMED;
  char text[SIGNATURE_TEXT_MAX];
  s->file_length = size;
  s->signed_length = size - SIGNATURE_TRAILER_SIZE - length;
  if (!read_fully(fd, reinterpret_cast<uint8_t*>(text), length, s->signed_length)) return FAILURE_SIGNATURE_READ;
  return parse_block(text, length, s);
}

int installer_signature_check(int fd, const InstallerSignature& s, const SignerKey& key) {
  if (memcmp(s.key.id, key.id, SIGNER_ID_SIZE) != 0) return FAILURE_SIGNATURE_OTHER_KEY;
  crypto_generichash_blake2b_state state;
  crypto_generichash_blake2b_init(&state, nullptr, 0, crypto_generichash_blake2b_BYTES_MAX);
  static uint8_t buffer[1 << 16];
  for (uint64_t at = 0; at < s.signed_length;) {
    size_t n = s.signed_length - at < sizeof buffer ? size_t(s.signed_length - at) : sizeof buffer;
    if (!read_fully(fd, buffer, n, at)) return FAILURE_SIGNATURE_READ;
    crypto_generichash_blake2b_update(&state, buffer, n);
    at += n;
  }
  uint8_t digest[crypto_generichash_blake2b_BYTES_MAX];
  crypto_generichash_blake2b_final(&state, digest, sizeof digest);
  if (crypto_sign_ed25519_verify_detached(s.signature, digest, sizeof digest, key.public_key) != 0)
    return FAILURE_SIGNATURE_WRONG;
  // The trusted comment is signed together with the signature.
  size_t comment = strlen(s.trusted_comment);
  uint8_t global[SIGNATURE_SIZE + TRUSTED_COMMENT_MAX];
  memcpy(global, s.signature, SIGNATURE_SIZE);
  memcpy(global + SIGNATURE_SIZE, s.trusted_comment, comment);
  if (crypto_sign_ed25519_verify_detached(s.global_signature, global, SIGNATURE_SIZE + comment, key.public_key) != 0)
    return FAILURE_SIGNATURE_WRONG;
  return FAILURE_NONE;
}

int installer_signer(int fd, const SignerKey* expected, SignerKey* signer, InstallerSignature* s) {
  int code = installer_signature_find(fd, s);
  if (code == FAILURE_NONE) code = installer_signature_check(fd, *s, expected ? *expected : s->key);
  if (code == FAILURE_NONE) *signer = expected ? *expected : s->key;
  return code;
}
