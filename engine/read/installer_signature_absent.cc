// A build without libsodium: it cannot tell a signature, so it claims none
// and refuses every check that is asked of it.
#include "engine/read/installer_signature.h"

bool signatures_supported() { return false; }

void signer_key_format(const SignerKey&, char out[PUBLIC_KEY_TEXT_SIZE]) { out[0] = 0; }
int signer_key_parse(const char*, size_t, SignerKey*) { return -1; }
int signer_key_read(const char*, SignerKey*) { return FAILURE_SIGNATURE_UNSUPPORTED; }
int installer_signature_find(int, InstallerSignature*) { return FAILURE_SIGNATURE_MISSING; }
int installer_signature_check(int, const InstallerSignature&, const SignerKey&) {
  return FAILURE_SIGNATURE_UNSUPPORTED;
}
int installer_signer(int, const SignerKey*, SignerKey*, InstallerSignature*) { return FAILURE_SIGNATURE_MISSING; }
