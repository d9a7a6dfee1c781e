// What list, verify and extract need of signatures: no secret key, only the
// engine's checks.
#include <cerrno>

#include "pack/failure.h"
#include "pack/signing.h"

std::string key_id_string(const uint8_t id[SIGNER_ID_SIZE]) {
  char text[KEY_ID_TEXT_SIZE];
  key_id_text(id, text);
  return text;
}

SignerKey read_public_key_argument(const std::string& command, const std::string& argument) {
  if (!signatures_supported()) throw Failure(failure_message(FAILURE_SIGNATURE_UNSUPPORTED));
  SignerKey key;
  if (signer_key_read(argument.c_str(), &key) != FAILURE_NONE)
    throw UsageError(command, std::string(failure_message(FAILURE_PUBLIC_KEY)) + " '" + argument + "'");
  return key;
}

void check_installer_signature(int fd, const std::string& path, const SignerKey& key) {
  InstallerSignature signature;
  SignerKey signer;
  int code = installer_signer(fd, &key, &signer, &signature);
  if (code == FAILURE_NONE) return;
  std::string message = failure_message(code);
  if (code == FAILURE_SIGNATURE_OTHER_KEY)
    message += " key ID " + key_id_string(signature.key.id) + ", not " + key_id_string(key.id);
  if (code == FAILURE_SIGNATURE_READ) message = system_failure(path, "cannot read", errno).substr(path.size() + 2);
  throw Failure(path + ": " + message);
}
