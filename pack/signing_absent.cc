// zolt-pack without libsodium: it checks nothing and signs nothing.
#include "pack/failure.h"
#include "pack/signing.h"

namespace {

[[noreturn]] void cannot_sign() {
  throw Failure("this zolt-pack was built without libsodium (Debian: libsodium-dev): it cannot make keys or sign");
}

}  // namespace

SignerKey SecretKey::public_key() const { cannot_sign(); }
SignerKey generate_key_pair(const std::string&, const std::string&, bool, bool) { cannot_sign(); }
SecretKey read_secret_key(const std::string&) { cannot_sign(); }
std::string sign_file(const SecretKey&, const std::string&, const std::string&) { cannot_sign(); }
void append_signature_block(const SecretKey&, const std::string&, const std::string&) { cannot_sign(); }
