// The vendor's side of signatures, in minisign's formats so that its tools
// read our keys and signatures and ours read its keys: key pairs (the
// secret key sealed with a passphrase through scrypt, or not), prehashed
// signatures with a trusted comment, and the block an installer carries.
#pragma once

#include <cstdint>
#include <string>

#include "engine/read/installer_signature.h"

struct SecretKey {
  uint8_t id[SIGNER_ID_SIZE];
  uint8_t secret[64];  // libsodium's: the seed, then the public key
  SignerKey public_key() const;
};

// Writes a new key pair to `public_path` and `secret_path`, refusing to
// replace either unless `force`. Without `no_passphrase` the passphrase is
// asked for (twice on a terminal). Returns the public key. Throws Failure.
SignerKey generate_key_pair(const std::string& public_path, const std::string& secret_path, bool no_passphrase,
                            bool force);

// Reads a secret key file of ours or of minisign, asking for its passphrase
// when it has one. Throws Failure.
SecretKey read_secret_key(const std::string& path);

// The signature of all the file `path` holds, as the text of a .minisig
// file: `file_name` goes into the trusted comment. Throws Failure.
std::string sign_file(const SecretKey& key, const std::string& path, const std::string& file_name);

// Appends the signature block to the file `path`, signing all it holds now.
// Throws Failure.
void append_signature_block(const SecretKey& key, const std::string& path, const std::string& file_name);

// The rest works in every build (pack/signature_check.cc); the above
// throws Failure where zolt-pack was built without libsodium.

// The key that --key names (the key line itself, or a file holding it).
// Throws UsageError for `command`.
SignerKey read_public_key_argument(const std::string& command, const std::string& argument);

// Checks the signature of the installer on `fd` against `key`, as the
// installer's --verify-signature does. Throws Failure naming `path`.
void check_installer_signature(int fd, const std::string& path, const SignerKey& key);

std::string key_id_string(const uint8_t id[SIGNER_ID_SIZE]);
