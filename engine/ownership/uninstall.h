// Removing an installed product: what its record lists below the
// installation directory and is still as it was installed, then the
// directories it made that are empty then, then its record. What a user or
// another product changed stays, and is named.
#pragma once

#include "engine/install/extraction.h"

struct UninstallResult {
  unsigned long removed;
  unsigned long kept;
};

// Removes what `product`'s manifest lists below `install_dir` and is unchanged since it was installed,
// then the directories that become empty and that the product made, then the product's record.
// Every path kept because it changed is passed to `kept` (may be null). 0, or -1 with `failure` filled in
// (FAILURE_NOT_RECORDED when no installation of the product is recorded there, FAILURE_RECORD_UNTRUSTED
// when another user could have written the record). A configuration file
// kept goes to `kept_config` instead, when given.
int uninstall_product(const char* install_dir, const char* product, void (*kept)(void* context, const char* path),
                      void* context, UninstallResult* result, EngineFailure* failure,
                      void (*kept_config)(void* context, const char* path) = nullptr);
