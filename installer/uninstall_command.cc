#include "installer/uninstall_command.h"

#include <cstdio>
#include <cstring>

#include "engine/present/text_escape.h"
#include "engine/ownership/uninstall.h"
#include "installer/answers.h"
#include "installer/installer_state.h"
#include "installer/prompts.h"
#include "installer/termination.h"

namespace {

// A path whose file changed after it was installed is the user's now.
void report(const char* what, const char* path) {
  static char shown[escaped_size(EXTRACTION_PATH_SIZE)];
  escape_text(path, strnlen(path, EXTRACTION_PATH_SIZE), shown);
  fprintf(stderr, "Kept, %schanged since it was installed: %s\n", what, shown);
}

void report_kept(void*, const char* path) { report("", path); }
void report_kept_config(void*, const char* path) { report("a configuration file ", path); }

}  // namespace

int uninstall_product_below(const char* directory) {
  char product[HEADER_TEXT_SIZE + 1];
  recorded_product(product);
  if (!unattended) {
    static char shown_product[escaped_size(HEADER_TEXT_SIZE)], shown_directory[escaped_size(EXTRACTION_PATH_SIZE)];
    escape_text(product, strlen(product), shown_product);
    escape_text(directory, strnlen(directory, EXTRACTION_PATH_SIZE), shown_directory);
    fprintf(stderr, "\n\nRemove the files that %s installed in\n    %s\nand that nobody changed since?\n",
            shown_product, shown_directory);
    if (ask_no_yes_cancel("Uninstall?", 0) != ANSWER_YES) error(nullptr);
  }
  UninstallResult result{0, 0};
  EngineFailure failure;
  if (uninstall_product(directory, product, report_kept, nullptr, &result, &failure, report_kept_config) != 0) {
    error_failure(failure);
  }
  fprintf(stderr, "%sUninstallation complete: %lu removed, %lu kept.\n%s", quiet ? "" : "\n\n", result.removed,
          result.kept, quiet ? "" : "\n");
  return 0;
}
