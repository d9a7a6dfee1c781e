// One installation from start to end, for the installer and for zolt-pack
// extract alike: the check of the whole attachment and of the free space
// before anything changes, then the run's begin, the entries read and
// decoded ahead on a second thread while the one in hand is written (held in
// memory or streamed into its file), and the run's finish. What the two
// differ in (what they show, how they word a failure, what becomes of the
// post-install step) comes through InstallHooks; failures come back as an
// InstallFailure for the front end to word.
//
// The steps, in order: install_run_init; the check pass, either
// install_run_check or the front end's own reading of the entries with
// install_run_expect for each and then install_run_fits; install_run_entries;
// install_run_end, also after a failure, at any step.
#pragma once

#include <cstdint>

#include "archive/format.h"
#include "engine/filesystem/free_space.h"
#include "engine/install/extraction.h"
#include "engine/read/entry_prefetch.h"
#include "engine/read/entry_reader.h"

struct InstallFailure;

// Every hook may be null. `context` is passed to each.
struct InstallHooks {
  void* context;
  // The entry in hand, before anything is done for it (not for a record
  // that failed its check).
  void (*entry_begins)(void* context, uint32_t index, const Entry& entry);
  // Slices decoded within the entry in hand, as EntryProgress.
  void (*slice_done)(void* context, const Entry& entry, uint32_t decoded);
  // The entry is installed (every entry but the post-install step).
  void (*entry_done)(void* context, uint32_t index, const Entry& entry);
  // A path left as it is because it changed since the product installed it.
  void (*kept)(void* context, const char* path);
  // A deletion entry's path left as it is because the product's record
  // exists and does not list it.
  void (*not_owned)(void* context, const char* path);
  // The run kept no installation record, told at its end: `why` is
  // FAILURE_RECORD_UNTRUSTED where another user could have written the one
  // there (told whenever the run began), or FAILURE_OPEN_RECORD with the
  // system's error where the directory takes none (told only when the run
  // wrote something, which the next run then cannot know as the product's).
  void (*no_record)(void* context, const EngineFailure& why);
  // The post-install step's entry: its data in `held` (with `data_fault`,
  // its check), or, when that is null, in `stream` at its data, which
  // the hook reads or passes over (without a hook it is passed over). 0, or nonzero to stop the run, with
  // `failure` filled in as the hook sees fit.
  int (*post_install)(void* context, EntryStream* stream, const Entry& entry, const uint8_t* held, int data_fault,
                      EngineFailure* failure);
  // A user's edit kept beside the new version: `config` 0, the user's copy
  // at `path` (NAME.zolt-old) while the new version took the name; 1, the
  // new version at `path` (NAME.zolt-new) beside the user's configuration
  // file, left as it is.
  void (*beside)(void* context, const char* path, int config);
  // A repair's selection: when not null, only the entries it returns
  // nonzero for are counted, expected and installed (the others are still
  // checked, and passed over), and nothing else is swept or removed, as a
  // repair puts back what is missing or changed and touches nothing more.
  int (*wanted)(void* context, const Entry& entry);
};

enum InstallStep {
  INSTALL_CHECK = 1,     // of entry `index`: the check pass
  INSTALL_NO_ROOM,       // `message`: the free-space verdict
  INSTALL_BEGIN,
  INSTALL_READ_AHEAD,    // the reading ahead could not start
  INSTALL_RECORD,        // of entry `index`, whose record did not read as in the check pass
  INSTALL_POST_INSTALL,  // what the post_install hook filled in
  INSTALL_ENTRY,         // of `entry`; a fault of its data keeps its old file
  INSTALL_FINISH,
};

struct InstallFailure {
  int step;  // an InstallStep
  EngineFailure failure;  // but for INSTALL_NO_ROOM
  uint32_t index;      // of the entry in hand
  const Entry* entry;  // the entry in hand, until install_run_end; null for a record fault
  char message[160];
};

struct InstallRun {
  EntryStream* stream;  // the attachment's entries; the run's (and its read-ahead's) while it runs
  const uint8_t* crc_table;
  const AttachmentHeader* header;
  uint32_t count;  // entries
  InstallHooks hooks;
  // Begins (the directory made, locked, its record read and at the end
  // written) even for an attachment without entries, which otherwise
  // touches nothing.
  int begin_when_empty;
  Extraction extraction;  // flush_data and swept are the front end's to set and read
  FreeSpace space;
  EntryPrefetch prefetch;  // its thread reads the file, so it ends first
  int measuring;
  int prefetching;
  uint32_t written;  // entries installed
  int holding_zstd;  // a use of the stream's Zstandard context, so that its state outlives the read-ahead
};

// Nothing on disk yet. `header`, `stream` and `crc_table` must outlive the run.
void install_run_init(InstallRun* run, const char* install_dir, const AttachmentHeader* header, EntryStream* stream,
                      const uint8_t* crc_table, const InstallHooks* hooks);

// What `entry` adds to the free-space count: its file and its line in the
// record, or for a deletion what it gives back. The post-install step is
// run from memory.
void install_space_add(FreeSpace* space, const Entry& entry);

// The free-space verdict on the entries counted with install_space_add and
// on the record that the product of `header` keeps: 1 when they fit, else 0
// with the message in `message`.
int install_space_fits(FreeSpace* space, const AttachmentHeader& header, char* message, size_t size);

// What a checked entry asks of the run: its share of the free space, and the
// sweep's knowledge that the attachment installs it. 0, or -1 when memory
// runs out.
int install_run_expect(InstallRun* run, const Entry& entry);

// The check pass over every entry from the current position of
// the stream, which it returns there, and the free-space verdict.
// 0, or -1 with `failure` filled in (INSTALL_CHECK, INSTALL_NO_ROOM).
int install_run_check(InstallRun* run, InstallFailure* failure);

// The free-space verdict on the entries counted. 0, or -1 with INSTALL_NO_ROOM.
int install_run_fits(InstallRun* run, InstallFailure* failure);

// Installs every entry from the current position of the stream, which
// must be where the check pass started. 0, or -1 with `failure` filled in.
int install_run_entries(InstallRun* run, InstallFailure* failure);

// Gives the files written so far their names, brings the record up to date
// and releases everything. Harmless when called again, or on a zeroed run.
void install_run_end(InstallRun* run);
