#include "installer/uninstall_command.h"

#include "installer/termination.h"

int uninstall_product_below(const char*) {
  error("--uninstall is not available yet: this installer cannot tell which files are unchanged.");
}
