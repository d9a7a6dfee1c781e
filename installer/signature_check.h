// Who signed this installer, settled at start-up before any page or option
// acts: checked against the user's key with --verify-signature (anything
// short of a valid signature by that key ends the run), else against the
// key the installer carries, which pins an installation to its signer.
#pragma once

#include <cstdio>

#include "engine/read/installer_signature.h"
#include "installer/command_line.h"

// The checked signer, or null: unsigned, or a signature that does not hold
// (which counts as unsigned unless the user asked for a check).
extern const SignerKey* checked_signer;

void settle_installer_signature(const InstallerOptions& options);

// "Signed with key ID X" and a newline on `out`, when the installer names a
// signer; nothing otherwise.
void print_signer_line(FILE* out);
