#include "installer/signature_check.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "archive/attachment_reader.h"
#include "engine/present/text_escape.h"
#include "installer/termination.h"

const SignerKey* checked_signer = nullptr;

namespace {

SignerKey checked_key;
InstallerSignature signature;
int signature_found = -1;  // -1 not looked for yet

bool find_signature() {
  if (signature_found < 0)
    signature_found = installer_signature_find(fileno(attachment_file), &signature) == FAILURE_NONE;
  return signature_found == 1;
}

[[noreturn]] void refuse_key(const char* argument) {
  size_t length = strlen(argument);
  char* line = static_cast<char*>(malloc(128 + escaped_size(length)));
  if (!line) error("Insufficient memory (err=3).");
  int n = snprintf(line, 128, "%s ", failure_message(FAILURE_PUBLIC_KEY));
  escape_text(argument, length, line + n);
  error(line);
}

[[noreturn]] void refuse_signature(int code, const SignerKey& key) {
  if (code == FAILURE_SIGNATURE_READ) error_failure(EngineFailure{code, errno});
  if (code != FAILURE_SIGNATURE_OTHER_KEY) error(failure_message(code));
  char found[KEY_ID_TEXT_SIZE], wanted[KEY_ID_TEXT_SIZE], line[256];
  key_id_text(signature.key.id, found);
  key_id_text(key.id, wanted);
  snprintf(line, sizeof line, "%s key ID %s, not %s", failure_message(code), found, wanted);
  error(line);
}

}  // namespace

void settle_installer_signature(const InstallerOptions& options) {
  if (options.verify_key) {
    if (!signatures_supported()) error(failure_message(FAILURE_SIGNATURE_UNSUPPORTED));
    SignerKey key;
    if (signer_key_read(options.verify_key, &key) != FAILURE_NONE) refuse_key(options.verify_key);
    int code = installer_signer(fileno(attachment_file), &key, &checked_key, &signature);
    if (code != FAILURE_NONE) refuse_signature(code, key);
    signature_found = 1;
    checked_signer = &checked_key;
    return;
  }
  // Only an installation keeps a signer; the rest only names it.
  if ((options.mode != MODE_INSTALL && options.mode != MODE_CHECK) || !find_signature()) return;
  if (installer_signature_check(fileno(attachment_file), signature, signature.key) == FAILURE_NONE) {
    checked_key = signature.key;
    checked_signer = &checked_key;
  }
}

void print_signer_line(FILE* out) {
  if (!find_signature()) return;
  char id[KEY_ID_TEXT_SIZE];
  key_id_text(signature.key.id, id);
  fprintf(out, "Signed with key ID %s%s\n", id,
          checked_signer ? "" : " (not checked: --verify-signature KEY checks it)");
}
