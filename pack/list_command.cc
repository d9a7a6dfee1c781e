// zolt-pack list: the header and one line per entry, in the manner of
// "tar tv". Every entry is read and checked as the installer would, so a
// listing that ends without complaint is one of a sound installer.
#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "engine/present/listing.h"
#include "pack/command_line.h"
#include "pack/commands.h"
#include "pack/failure.h"
#include "pack/installer_reader.h"
#include "pack/messages.h"
#include "pack/signing.h"
#include "pack/text_escape.h"

const char* const LIST_USAGE =
    "Usage: zolt-pack list FILE\n"
    "Show the header of installer FILE, the vendor's texts (those of several\n"
    "lines by their first line and line count), and one line per entry: mode,\n"
    "size, stored size, method (stored, lh5, delete; zstd begins a solid run,\n"
    "zstd+ goes on with it; link, hlink, dir, post), modification time (UTC),\n"
    "name; a link as \"NAME -> TARGET\", a hard link as \"NAME => FIRST\" (the\n"
    "entry whose file it names), a directory as \"NAME/\". A post-install step\n"
    "is listed last, by the name of the vendor's file. A signed installer shows\n"
    "the signer's key ID on a line \"Signed:\".\n"
    "Control characters and backslashes in names and texts are shown escaped.\n"
    "Every entry is checked as the installer checks it; a damaged one ends the\n"
    "listing with exit status 1.\n"
    "\n"
    "  -h, --help   show this help and exit\n";

namespace {

enum { OPT_HELP = 1 };

}  // namespace

int list_command(const Arguments& args) {
  ParsedCommandLine cl = parse_command_line("list", args, {{"help", 'h', false, OPT_HELP}});
  for (const ParsedOption& o : cl.options)
    if (o.id == OPT_HELP) {
      fputs(LIST_USAGE, stdout);
      return 0;
    }
  if (cl.operands.size() != 1)
    throw UsageError("list", cl.operands.empty() ? "no installer named" : "one installer at a time");

  InstallerReader reader(cl.operands[0]);
  // The signature is checked against the key it carries: that proves no
  // signer, but tells a damaged or altered installer; verify --key tells who.
  InstallerSignature signature;
  std::string signer;
  int found = installer_signature_find(reader.descriptor(), &signature);
  if (found == FAILURE_SIGNATURE_MALFORMED) signer = "a damaged signature";
  if (found == FAILURE_NONE) {
    signer = "key ID " + key_id_string(signature.key.id);
    if (installer_signature_check(reader.descriptor(), signature, signature.key) != FAILURE_NONE)
      signer += " (the signature does not match the installer)";
  }
  list_header(stdout, reader.header(), reader.texts(), signer.empty() ? nullptr : signer.c_str());
  fflush(stdout);

  Entry entry;
  uint32_t index;
  while (reader.next(&entry, &index, nullptr, InstallerReader::CHECK_DATA)) {
    list_entry(stdout, entry);
    release_entry(&entry);
  }
  if (fflush(stdout) != 0) throw Failure(system_failure("standard output", "cannot write", errno));
  return 0;
}
