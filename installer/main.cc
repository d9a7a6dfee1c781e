// zolt-setup: the console installer that carries its payload behind its own
// image. The dialogue is on standard error; standard output carries only
// what the command line asks for (help, version, listing, check).
#include <cstring>

#include "installer/answers.h"
#include "installer/command_line.h"
#include "installer/inspection.h"
#include "installer/installer_state.h"
#include "installer/install_files.h"
#include "installer/pages.h"
#include "installer/sequencer.h"
#include "installer/signature_check.h"
#include "installer/startup.h"
#include "installer/uninstall_command.h"
#include "installer/verify_command.h"

int main(int argc, char** argv) {
  const char* program = argc > 0 && argv[0] && *argv[0] ? argv[0] : "zolt-setup";
  if (const char* slash = strrchr(program, '/')) program = slash[1] ? slash + 1 : program;
  InstallerOptions options;
  const char *problem, *argument;
  if (parse_installer_options(argc, argv, &options, &problem, &argument) != 0) {
    print_usage_error(program, problem, argument);
    return STATUS_USAGE;
  }
  if (options.mode == MODE_HELP) {
    print_installer_help(program);
    return 0;
  }
  start_installer(argc, argv);
  settle_installer_signature(options);
  apply_installer_options(options);
  switch (options.mode) {
    case MODE_VERSION: return show_version();
    case MODE_LIST: return list_entries();
    case MODE_CHECK: return check_installation();
    case MODE_UNINSTALL: return uninstall_product_below(install_dir);
    case MODE_VERIFY: return verify_installed_tree(install_dir);
    case MODE_REPAIR: return repair_installed_tree(install_dir);
    default: break;
  }
  const WizardPages pages = {welcome_page,           licence_page, select_install_dir,
                             existing_directory_page, install_page, files_installed_page};
  run_sequencer(pages, PAGE_WELCOME);
  return options.no_post_install ? 0 : run_post_install_step();
}
