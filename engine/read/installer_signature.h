// Signed installers. A signature travels as a block behind the attachment,
// which the entry stream never reaches, so an installer reads the same with
// or without it and an unsigned installer is what it always was:
//
//   text   the signature as minisign writes it (untrusted comment, the
//          prehashed "ED" signature of every byte before the block, trusted
//          comment, global signature), then the signer's public key line;
//          each line ends in '\n'
//   u32    the text's length, at most SIGNATURE_TEXT_MAX
//   8      SIGNATURE_MAGIC
//
// Keys and signatures are minisign's (Ed25519 over BLAKE2b-512), so that a
// vendor's key pair and a user's check work with a tool they already have.
// Every primitive is libsodium's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/failure.h"

constexpr size_t SIGNER_ID_SIZE = 8;
constexpr size_t SIGNER_PUBLIC_SIZE = 32;
constexpr size_t SIGNATURE_SIZE = 64;
// A key ID as minisign shows it: 16 upper-case hex digits, and a NUL.
constexpr size_t KEY_ID_TEXT_SIZE = 17;
// A public key line: base64 of "Ed", the key ID and the key, and a NUL.
constexpr size_t PUBLIC_KEY_TEXT_SIZE = 57;
constexpr size_t TRUSTED_COMMENT_MAX = 1024;
constexpr uint32_t SIGNATURE_TEXT_MAX = 2048;
constexpr uint32_t SIGNATURE_TRAILER_SIZE = 12;
constexpr char SIGNATURE_MAGIC[] = "zolt-sig";
static_assert(sizeof SIGNATURE_MAGIC == 9);

struct SignerKey {
  uint8_t id[SIGNER_ID_SIZE];
  uint8_t public_key[SIGNER_PUBLIC_SIZE];
};

struct InstallerSignature {
  uint64_t signed_length;  // the bytes it covers: all before the block
  uint64_t file_length;
  SignerKey key;           // the key ID it names and the public key it carries
  uint8_t signature[SIGNATURE_SIZE];
  char trusted_comment[TRUSTED_COMMENT_MAX];  // NUL-terminated, no newline
  uint8_t global_signature[SIGNATURE_SIZE];
};

// 1 where this build can check signatures (the stub may be built without).
bool signatures_supported();

void key_id_text(const uint8_t id[SIGNER_ID_SIZE], char out[KEY_ID_TEXT_SIZE]);
bool signer_key_equal(const SignerKey& a, const SignerKey& b);
// The key as hex digits (the ID, then the key), as the installation record
// keeps it: readable by a build that cannot check signatures, so that its
// upgrades cannot drop the signer unnoticed. 0, or -1 for any other text.
constexpr size_t SIGNER_HEX_SIZE = 2 * (SIGNER_ID_SIZE + SIGNER_PUBLIC_SIZE) + 1;
void signer_key_hex(const SignerKey& key, char out[SIGNER_HEX_SIZE]);
int signer_key_from_hex(const char* text, size_t length, SignerKey* key);
// The key line of minisign's public key file.
void signer_key_format(const SignerKey& key, char out[PUBLIC_KEY_TEXT_SIZE]);

// A public key from `text`: the base64 line alone, or a key file's content
// (its untrusted comment, then the line). 0, or -1.
int signer_key_parse(const char* text, size_t length, SignerKey* key);

// The key an argument names: the key line itself, or a file holding it.
// FAILURE_NONE or FAILURE_PUBLIC_KEY.
int signer_key_read(const char* argument, SignerKey* key);

// The block at the end of the file on `fd`, read with pread so that the
// descriptor's position and any stream on it stay as they are.
// FAILURE_NONE, FAILURE_SIGNATURE_MISSING (no block), FAILURE_SIGNATURE_MALFORMED
// or FAILURE_SIGNATURE_READ with errno set.
int installer_signature_find(int fd, InstallerSignature* signature);

// Whether `signature` is `key`'s over the bytes it covers: FAILURE_NONE,
// FAILURE_SIGNATURE_OTHER_KEY, FAILURE_SIGNATURE_WRONG, or
// FAILURE_SIGNATURE_READ with errno set.
int installer_signature_check(int fd, const InstallerSignature& signature, const SignerKey& key);

// The signer of the file on `fd`: its block found and checked against the
// key it carries, or against `expected` when that is not null. FAILURE_NONE
// with `*signer` filled in, or the first failure of the two steps above.
int installer_signer(int fd, const SignerKey* expected, SignerKey* signer, InstallerSignature* signature);
