// What the engine can fail with: one vocabulary for the faults of an
// attachment's data and for what the file system refuses, each with one
// message, so that the installer and zolt-pack say the same thing about the
// same failure. 0 is success everywhere.
//
// The messages are the installer's, most ending in a code in parentheses
// that tells apart the places sharing a wording. A failure of the system
// carries its error number: failure_text then adds the system's text
// between the message and the code.
#pragma once

#include <cstddef>

enum FailureCode {
  FAILURE_NONE = 0,
  // The attachment's data: a damaged or cut installer.
  ENTRY_FAULT_RECORD_LENGTH,      // fewer than 4 bytes, or record_length outside 41..4136
  ENTRY_FAULT_RECORD_SHORT,       // the record is cut short
  ENTRY_FAULT_STORED_SHORT,       // the stored data is cut short, or too short for a stored file
  ENTRY_FAULT_STORED_CRC,
  ENTRY_FAULT_FILE_CRC,
  ENTRY_FAULT_RECORD_CRC,
  ENTRY_FAULT_NAME_UNTERMINATED,  // no NUL inside the record
  ENTRY_FAULT_NAME_ESCAPES,       // absolute, with a ".." component, or into the record directory
  ENTRY_FAULT_DECODE,             // the stream cannot be decoded or the codec set up
  ENTRY_FAULT_TREE_OBJECT,        // a link or directory entry whose sizes or target break its rules
  // Both: the data's buffers or the run's own.
  FAILURE_NO_MEMORY,
  // The installation directory and its record.
  FAILURE_BUSY,              // another installer holds the directory's lock
  FAILURE_CREATE_DIRECTORY,  // with the system's error
  FAILURE_CREATE_FILE,       // with the system's error
  FAILURE_SAVE_DATA,         // with the system's error
  FAILURE_SAVE_RECORD,       // with the system's error
  FAILURE_OPEN_RECORD,       // with the system's error
  FAILURE_NOT_RECORDED,      // nothing of the product is recorded there
  FAILURE_RECORD_UNTRUSTED,  // the record there could have been written by another user
  FAILURE_IN_THE_WAY,        // what is not the product's, or changed, blocks an entry; the path follows
  // Signatures (engine/read/installer_signature.h).
  FAILURE_SIGNATURE_MISSING,
  FAILURE_SIGNATURE_MALFORMED,
  FAILURE_SIGNATURE_OTHER_KEY,  // the key IDs follow
  FAILURE_SIGNATURE_WRONG,      // the bytes are not those signed
  FAILURE_SIGNATURE_READ,       // with the system's error
  FAILURE_SIGNATURE_UNSUPPORTED,
  FAILURE_PUBLIC_KEY,           // the argument is neither a public key nor a file holding one
  FAILURE_SIGNER_CHANGED,       // the installed version's signer and this one's follow
  FAILURE_CODE_COUNT
};

// A failure as a caller receives it: the code, and for a failure of the
// system the error number that explains it (0 when none is known).
struct EngineFailure {
  int code;
  int error_number;
};

// 1 for the faults of an attachment's data: what a damaged entry reports,
// after which its old file stays.
inline bool failure_is_data_fault(int code) { return code >= ENTRY_FAULT_RECORD_LENGTH && code <= ENTRY_FAULT_TREE_OBJECT; }

// The message of `code` ("Corrupted file(s) (err=4).", "Can't create file"),
// null for FAILURE_NONE or a code outside the vocabulary.
const char* failure_message(int code);

// What follows the system's text for a failure of the system ("(err=5)."),
// null when the message is whole by itself.
const char* failure_detail(int code);

// The line both front ends print: the message, then for a failure of the
// system " - ", the system's text when there is one, " " and the detail.
// Writes at most `size` bytes, NUL included; returns the length it wanted.
size_t failure_text(const EngineFailure& failure, char* out, size_t size);

// Fills `*failure` and returns -1: the engine's way of failing in one line.
int fail_with(EngineFailure* failure, int code, int error_number = 0);
