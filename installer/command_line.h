// The installer's options, in the conventions of GNU tools, makeself and
// CPack's self-extracting scripts, parsed before anything is read or written:
// a misspelt option must never start an installation into the default
// directory. "-autonext" keeps its own exact matching (startup.h).
#pragma once

enum InstallerMode {
  MODE_INSTALL,
  MODE_HELP,
  MODE_VERSION,
  MODE_LIST,
  MODE_CHECK,
  MODE_UNINSTALL,
  MODE_VERIFY,
  MODE_REPAIR,
};

// The exit statuses besides 0 (installed, or cancelled with a key).
constexpr int STATUS_FAILED = 1;
constexpr int STATUS_USAGE = 2;
constexpr int STATUS_CANCELLED = 3;  // only with --fail-on-cancel

struct InstallerOptions {
  int mode;
  const char* target;  // null: the vendor's default directory
  int accept_licence;
  int unattended;  // asked for, or implied by a target and an accepted licence
  int quiet;       // implies unattended
  int fail_on_cancel;
  int no_post_install;  // the vendor's post-install step is not run
  const char* verify_key;  // --verify-signature: the public key or its file; null without
  int accept_new_signer;
};

// Fills `options` from argv[1..]. Arguments that do not start with '-' are
// left alone, as they always were, and so is every other unknown argument
// unless the command line also gives a known option besides "-autonext".
// 0, or -1 with `problem` and `argument` (may be null) saying what is wrong.
int parse_installer_options(int argc, char** argv, InstallerOptions* options, const char** problem,
                            const char** argument);

// The help text, with `program` as the installer's name.
void print_installer_help(const char* program);

// "PROGRAM: PROBLEM 'ARGUMENT'" and the usage line on standard error.
void print_usage_error(const char* program, const char* problem, const char* argument);
