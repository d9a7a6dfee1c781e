// Checking a whole attachment before anything is installed: every record
// (length, CRC, name) and every entry's stored data against its CRC, read in
// slices so that memory stays small whatever the sizes, every Zstandard
// frame's header, and that no record block holds bytes behind the last
// entry's record. What only decoding
// shows (a stream that does not decode, a wrong file CRC) is left to the
// installation of the entry.
#pragma once

#include <cstdint>

#include "engine/read/entry_reader.h"

// Called for every entry that passed, in order; a nonzero result stops the
// check with that result. A link's target is in entry.data (file_size
// bytes); no other entry's data is kept.
struct CheckedEntry {
  int (*accept)(void* context, const Entry& entry);
  void* context;
};

// Reads the stored data behind the record of `entry` in slices and checks it
// against its CRC; a stored file must fit in it. FAILURE_NONE or the fault.
int check_entry_stored_data(EntryStream* stream, const uint8_t* crc_table, const Entry& entry);

// Reads `entry_count` entries from the current position of `stream` and
// returns it there. FAILURE_NONE, the first entry's fault
// (`index` learns which entry, from 0), or what `accept` returned. A
// position that cannot be restored is ENTRY_FAULT_RECORD_SHORT.
int check_attachment(EntryStream* stream, const uint8_t* crc_table, uint32_t entry_count, const CheckedEntry* checked, uint32_t* index);
