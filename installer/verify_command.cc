#include "installer/verify_command.h"

#include <cstdio>
#include <cstring>

#include "archive/format.h"
#include "engine/ownership/installed_check.h"
#include "engine/ownership/owned_index.h"
#include "engine/read/entry_reader.h"
#include "engine/present/installed_report.h"
#include "engine/present/text_escape.h"
#include "installer/command_line.h"
#include "installer/install_files.h"
#include "installer/installer_state.h"
#include "installer/termination.h"

namespace {

void print_one(void* context, const char* path, unsigned differences) {
  print_difference(stdout, differences, static_cast<const char*>(context), path);
}

// The comparison, with `each` told of every difference; -1 when there is
// nothing to compare with, the reason told.
int compare(const char* directory, void (*each)(void*, const char*, unsigned), void* context,
            InstalledCheck* result) {
  char product[HEADER_TEXT_SIZE + 1];
  recorded_product(product);
  EngineFailure failure;
  if (check_installed(directory, product, each, context, result, &failure) == 0) return 0;
  char text[256];
  failure_text(failure, text, sizeof text);
  fflush(stdout);
  fprintf(stderr, "%s\n", text);
  return -1;
}

// The comparison, its lines and its summary, which `verb` begins.
int compare_and_tell(const char* directory, const char* verb, InstalledCheck* result) {
  if (compare(directory, print_one, const_cast<char*>(directory), result) != 0) return -1;
  char product[HEADER_TEXT_SIZE + 1];
  recorded_product(product);
  static char shown_product[escaped_size(HEADER_TEXT_SIZE)];
  escape_text(product, strlen(product), shown_product);
  printf("%s %s: %lu paths checked, %lu differ (%lu missing).\n", shown_product, verb, result->checked,
         result->differ, result->missing);
  if (result->existence_only)
    printf("%lu of them recorded by an older installer without what was written there: only their presence was "
           "checked.\n",
           result->existence_only);
  return 0;
}

// What the differences of a tree ask a repair to write again: their paths,
// spelt as the record spells them.
struct Repair {
  OwnedIndex wanted;
  const char* directory;
  unsigned long restored;
  unsigned long configs_kept;  // changed configuration files, left as the user has them
  bool out_of_memory;
};

// In the repair's own index, a changed configuration file already counted.
constexpr unsigned CONFIG_KEPT = PATH_RECORDED;

void want(void* context, const char* path, unsigned) {
  Repair& r = *static_cast<Repair*>(context);
  if (owned_index_add(&r.wanted, path, strlen(path), PATH_INSTALLS) != 0) r.out_of_memory = true;
}

int wanted_entry(void* context, const Entry& entry) {
  if (entry.type == ENTRY_DELETE || entry.type == ENTRY_POST_INSTALL) return 0;
  Repair& r = *static_cast<Repair*>(context);
  const unsigned flags = owned_index_flags(&r.wanted, entry.name, strlen(entry.name));
  if (!(flags & PATH_INSTALLS)) return 0;
  if (!entry_is_config(entry)) return 1;
  if (!(flags & CONFIG_KEPT)) {
    r.configs_kept++;
    if (owned_index_add(&r.wanted, entry.name, strlen(entry.name), CONFIG_KEPT) != 0) r.out_of_memory = true;
  }
  return 0;
}

void restored(void* context, uint32_t, const Entry& entry) {
  Repair& r = *static_cast<Repair*>(context);
  r.restored++;
  print_path_line(stdout, "restored  ", r.directory, entry.name);
  if (owned_index_add(&r.wanted, entry.name, strlen(entry.name), PATH_WRITTEN) != 0) r.out_of_memory = true;
}

// In the repair's own index, a path found differing after the run.
constexpr unsigned STILL_DIFFERS = PATH_GONE;

void still_differs(void* context, const char* path, unsigned) {
  Repair& r = *static_cast<Repair*>(context);
  if (owned_index_add(&r.wanted, path, strlen(path), STILL_DIFFERS) != 0) r.out_of_memory = true;
}

// What no entry wrote but the run put back all the same: a directory the
// product made, made again on the way to its files.
void name_restored_on_the_way(Repair& r) {
  bool any = false;
  for (size_t i = 0; i < r.wanted.count; i++) any |= !(r.wanted.paths[i].flags & PATH_WRITTEN);
  InstalledCheck after;
  if (!any || compare(r.directory, still_differs, &r, &after) != 0) return;
  for (size_t i = 0; i < r.wanted.count; i++)
    if (!(r.wanted.paths[i].flags & (PATH_WRITTEN | STILL_DIFFERS))) {
      r.restored++;
      print_path_line(stdout, "restored  ", r.directory, r.wanted.paths[i].path);
    }
}

Repair repair;

}  // namespace

int verify_installed_tree(const char* directory) {
  InstalledCheck result;
  if (compare_and_tell(directory, "verified", &result) != 0) return STATUS_FAILED;
  return result.differ ? STATUS_FAILED : 0;
}

int repair_installed_tree(const char* directory) {
  owned_index_init(&repair.wanted);
  repair.directory = directory;
  repair.configs_kept = 0;
  InstalledCheck before;
  if (compare(directory, want, &repair, &before) != 0) return STATUS_FAILED;
  if (repair.out_of_memory) error("Insufficient memory (err=3).");
  if (before.differ > 0) {
    install_selected(EntrySelection{wanted_entry, restored, &repair});
    name_restored_on_the_way(repair);
  }
  owned_index_release(&repair.wanted);
  // What this installer does not carry, or could not put back, is told as
  // --verify tells it.
  char verb[64];
  snprintf(verb, sizeof verb, "repaired, %lu restored", repair.restored);
  InstalledCheck after;
  if (compare_and_tell(directory, verb, &after) != 0) return STATUS_FAILED;
  // A configuration file the user changed is theirs: it differs, and is shown
  // so, but is no fault of the repair.
  return after.differ > repair.configs_kept ? STATUS_FAILED : 0;
}
