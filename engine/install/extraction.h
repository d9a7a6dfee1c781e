// Turning checked entries into files below the installation directory: the
// stale-copy sweep, the directories, the file itself with its times and mode,
// and the installation record that tells later runs what is theirs.
//
// Below the installation directory nothing is reached by path: directories
// are entered one at a time from a descriptor (see directory_below.h), so a
// link in the tree cannot lead writes or deletions out of it. Every file is
// written whole to a temporary first (see temporary_files.h) and takes its
// name by one rename only once its data is on disk (see durable_batch.h), so
// that after any failure, interruption or power cut each path holds nothing,
// its old version or its complete new one, and after extraction_finish the
// new one. The data goes straight into the temporary as it is decoded, so
// memory stays small whatever a file's size, and a file that fails its check
// loses only its temporary. A directory that did not exist before the run
// is filled through a stage instead (see stage_directory.h): the same
// promises at one flush and one rename per top-level entry.
#pragma once

#include <sys/types.h>

#include "archive/entry_paths.h"
#include "engine/filesystem/durable_batch.h"
#include "engine/read/entry_reader.h"
#include "engine/ownership/install_record.h"
#include "engine/ownership/owned_index.h"

constexpr size_t EXTRACTION_PATH_SIZE = SYSTEM_PATH_SIZE;  // longer paths cannot be named
// Directories kept open besides the current one: a product's files need not
// come directory by directory, and walking down from the top again costs a
// system call per level.
constexpr size_t EXTRACTION_KEPT_DIRECTORIES = 8;

// A directory written to before, with what was learnt of it.
struct KeptDirectory {
  int fd;
  char* path;  // below install_dir, as entries spell it; owned
  dev_t device;
  ino_t inode;
  int writable;
  int access_error;
  int same_device;
};

struct Extraction {
  const char* install_dir;  // as chosen; never longer than INSTALL_DIR_MAX
  OwnedIndex owned;  // what the product owns in the tree, and what this run writes
  InstallRecord record;
  int begun;    // the directory is locked and the record read
  int root_fd;  // install_dir; -1 when not open
  int dir_fd;   // the directory of the last file written; -1 when none
  char dir_path[EXTRACTION_PATH_SIZE];  // dir_fd's path below install_dir, as entries spell it
  dev_t dir_device;                     // dir_fd's
  ino_t dir_inode;
  KeptDirectory kept[EXTRACTION_KEPT_DIRECTORIES];  // the most recently left first
  size_t kept_count;
  dev_t record_device;
  // For the entry in hand, between extract_make_way and extract_write.
  const char* file_name;  // within the entry's name
  int in_place;           // a file in a directory that cannot take a temporary
  unsigned long swept;    // objects the sweep removed, over the run
  EntryStreamer streamer;  // opened with the first data to decode
  int dir_writable;        // dir_fd takes new names; -1 not yet asked
  int dir_access_error;    // why it does not
  int dir_same_device;     // dir_fd is on the record directory's file system; -1 not yet asked
  mode_t new_file_mode;    // of a file created here: 0666 less the umask
  int flush_data;          // 1 (the default): new files are on disk before their names
  DurableBatch batch;      // written files waiting for their names
  // Set by extraction_begin when the directory takes no record (errno's
  // value): the files are installed in place where they can be, and nothing
  // is removed, as nothing is known to be the product's.
  int no_record_error;
  int record_written;  // the final record, by extraction_finish
  // The attachment carries the whole product (HEADER_FLAG_WHOLE_PRODUCT):
  // what the record lists and it no longer installs goes at the end.
  // Otherwise it stays, and stays listed.
  int whole_product;
  // Only some of the attachment's entries are installed (a repair): the
  // sweep removes nothing, as what the others would replace stays theirs.
  int selective;
  char blocked[EXTRACTION_PATH_SIZE];  // with FAILURE_IN_THE_WAY: the path, as the index spells it;
                                       // with FAILURE_SIGNER_CHANGED: both key IDs
  // For the entry in hand, a configuration file whose user's copy changed:
  // the name its new version takes beside it. Empty otherwise.
  char beside_name[EXTRACTION_PATH_SIZE];
  // Told, with the owned index's kept_context, of each copy a user's edit
  // keeps: `config` 0, the user's file kept as PATH (NAME.zolt-old) while
  // the new version takes its name; 1, the new version written to PATH
  // (NAME.zolt-new) beside a configuration file left as it is. May be null.
  void (*beside)(void* context, const char* path, int config);
  // The key that signed this installer, checked; null for an unsigned one.
  // An installation signed by another key is not upgraded by it unless
  // accept_new_signer is set; the record keeps the new signer.
  const SignerKey* signer;
  int accept_new_signer;
  // The installation directory did not exist before the run: set by
  // extraction_begin, or before it by a caller that made the directory.
  int target_new;
  // While a new directory is filled through its stage: the stage, which
  // root_fd then is, and the installation directory itself. -1 otherwise.
  int stage_fd;
  int tree_fd;
};

// Where a user changed a file that the record lists and this attachment
// ships again, the edit is never lost: the names copies take.
#define BESIDE_OLD_SUFFIX ".zolt-old"
#define BESIDE_NEW_SUFFIX ".zolt-new"

// Paths left alone because what lies there changed since the product
// installed it go to `kept`, and deletion entries' paths left alone because
// the product's record does not list them to `not_owned` (either may be
// null), one call each, as they are met.
void extraction_on_kept(Extraction* x, void (*kept)(void* context, const char* path),
                        void (*not_owned)(void* context, const char* path), void* context);

// Nothing on disk yet. 0, or -1 when memory runs out.
int extraction_init(Extraction* x, const char* install_dir);

// Learns an entry of the attachment from the check before installation: the
// sweep never removes a file that the attachment itself installs. 0, or -1
// when memory runs out.
int extraction_expect(Extraction* x, const Entry& entry);

// Makes the installation directory, takes its lock, clears what killed runs
// left, reads the product's record and checks that the tree lets every
// expected entry in (see tree_shape.h). 0, or -1 with `failure` filled in
// (FAILURE_IN_THE_WAY: the path in `blocked`).
int extraction_begin(Extraction* x, const char* product, EngineFailure* failure);

// Called once the last entry is written: gives every written file its name
// and flushes it to disk; with `whole_product`, removes what the product's
// record lists that this attachment does not install and that is unchanged,
// then the product's directories that are empty then; writes the final
// record. 0, or -1 with `failure` filled in.
int extraction_finish(Extraction* x, EngineFailure* failure);

// Gives the files written so far their names (once begun, reporting
// nothing), brings the record up to date unless extraction_finish did (what
// the old record listed stays listed) and releases everything.
void extraction_end(Extraction* x);

// Installs one entry whose stored data check_attachment has checked:
// extract_make_way once its record is read (the sweep, the directories, and
// for a deletion entry the deletion), 0 or -1 with `failure` filled in; then
// extract_write, which decodes the data behind the record from `stream`
// one window at a time into the new file (see stream_entry_data), and which
// the caller calls while it owns the stream (entry_stream.h). extract_write
// is 0, or -1 with `failure` filled in: a fault of the data
// (failure_is_data_fault: the entry's old file is kept) comes before a
// failure to make or write the file, as a check of the whole file before its
// write would have told them.
int extract_make_way(Extraction* x, const Entry& entry, EngineFailure* failure);
int extract_write(Extraction* x, EntryStream* stream, const uint8_t* crc_table, const Entry& entry,
                  const EntryProgress* progress, EngineFailure* failure);

// extract_write for data read, decoded and checked already: `data` holds the
// entry's file_size bytes. 0, or -1 with `failure` filled in.
int extract_write_held(Extraction* x, const Entry& entry, const uint8_t* data, EngineFailure* failure);

// 1 when every directory of `path` exists or was made (mode 0755), 0 when a
// mkdir failed (errno is mkdir's; the path is left cut at that directory).
// Only '/' separates.
int make_directories(char* path);

// 1 when `text` is not empty and ends in '/'; a backslash does not count.
int ends_with_slash(const char* text);
