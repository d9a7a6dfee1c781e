// zolt-pack keygen: a key pair in minisign's formats.
#include <cstdio>

#include "pack/command_line.h"
#include "pack/commands.h"
#include "pack/failure.h"
#include "pack/signing.h"
#include "pack/text_escape.h"

const char* const KEYGEN_USAGE =
    "Usage: zolt-pack keygen [-W] [-f] [-p PUBLIC_KEY] [-s SECRET_KEY]\n"
    "Make a key pair for signing installers, in minisign's formats: the public\n"
    "key (default zolt-sign.pub) is what users check installers with\n"
    "(--verify-signature, or minisign -V); the secret key (default zolt-sign.key)\n"
    "is what 'create --sign' signs with. A key made by minisign -G signs too.\n"
    "\n"
    "  -p, --public-key=FILE  where the public key goes\n"
    "  -s, --secret-key=FILE  where the secret key goes\n"
    "  -W, --no-passphrase    leave the secret key without a passphrase (else it\n"
    "                         is asked for, twice on a terminal, else read as one\n"
    "                         line of standard input)\n"
    "  -f, --force            replace existing key files\n"
    "  -h, --help             show this help and exit\n";

namespace {

enum { OPT_HELP = 1, OPT_PUBLIC, OPT_SECRET, OPT_NO_PASSPHRASE, OPT_FORCE };

}  // namespace

int keygen_command(const Arguments& args) {
  ParsedCommandLine cl = parse_command_line("keygen", args,
                                            {{"help", 'h', false, OPT_HELP},
                                             {"public-key", 'p', true, OPT_PUBLIC},
                                             {"secret-key", 's', true, OPT_SECRET},
                                             {"no-passphrase", 'W', false, OPT_NO_PASSPHRASE},
                                             {"force", 'f', false, OPT_FORCE}});
  std::string public_path = "zolt-sign.pub", secret_path = "zolt-sign.key";
  bool no_passphrase = false, force = false;
  for (const ParsedOption& o : cl.options) switch (o.id) {
      case OPT_HELP: fputs(KEYGEN_USAGE, stdout); return 0;
      case OPT_PUBLIC: public_path = o.value; break;
      case OPT_SECRET: secret_path = o.value; break;
      case OPT_NO_PASSPHRASE: no_passphrase = true; break;
      case OPT_FORCE: force = true; break;
    }
  if (!cl.operands.empty()) throw UsageError("keygen", "unexpected argument '" + cl.operands[0] + "'");
  if (public_path == secret_path) throw UsageError("keygen", "the public and the secret key need two files");
  SignerKey key = generate_key_pair(public_path, secret_path, no_passphrase, force);
  printf("Key ID %s: public key in %s, secret key in %s\n", key_id_string(key.id).c_str(),
         terminal_safe_text(public_path).c_str(), terminal_safe_text(secret_path).c_str());
  return 0;
}
