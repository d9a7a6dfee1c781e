// The attachment's on-disk layout: one definition shared by the reader, the
// writer and every tool that looks inside an installer.
//
// An installer file is the executable image, filler up to a multiple of 1024,
// the 1028-byte header block, then `entry_count` entries, each an entry record
// directly followed by its stored data. Integers are little-endian; the three
// kinds of CRC field hold their value high byte first, which, read back as a
// little-endian u16, is the byte-exchanged value that `crc16` computes.
//
// Both records are kept as raw bytes and read at these offsets, never through
// a C struct, so that padding and alignment cannot change the layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// ---- header block ----------------------------------------------------------
constexpr uint32_t HEADER_SIZE = 1028;
constexpr uint32_t HEADER_ALIGN = 1024;  // the header starts at a multiple of this, never at 0

constexpr uint32_t HEADER_MARKER = 0;             // 252 bytes, the AttachmentMarker
constexpr uint32_t HEADER_RESERVED_252 = 252;     // u32, 0
constexpr uint32_t HEADER_ENTRY_COUNT = 256;      // u32
constexpr uint32_t HEADER_TOTAL_FILE = 260;       // u32, sum of file_size
constexpr uint32_t HEADER_TOTAL_STORED = 264;     // u32, sum of stored_size
constexpr uint32_t HEADER_TOTAL_RECORD = 268;     // u32, sum of record_length
constexpr uint32_t HEADER_RESERVED_272 = 272;     // u32, 0xFFFFFFFF
constexpr uint32_t HEADER_VOLUME = 276;           // i32, -1: held whole in this file
constexpr uint32_t HEADER_RESERVED_280 = 280;     // u32, 0
constexpr uint32_t HEADER_ENTRY_COUNT_COPY = 284; // u32, equal to entry_count
constexpr uint32_t HEADER_SPACE_REQUIRED = 348;   // u32, bytes
constexpr uint32_t HEADER_CRC = 416;              // CRC over the block with these 2 bytes zero
constexpr uint32_t HEADER_PRODUCT_NAME = 418;     // text, 64 bytes
constexpr uint32_t HEADER_PRODUCT_VERSION = 482;  // text, 64 bytes
constexpr uint32_t HEADER_PLATFORM = 546;         // text, 64 bytes
constexpr uint32_t HEADER_RESERVED_TEXT = 610;    // text, 64 bytes
constexpr uint32_t HEADER_BUILD_TIME = 740;       // i32, seconds since 1970 UTC
constexpr uint32_t HEADER_FLAGS = 744;            // u32, HEADER_FLAG_* bits; 0 before there were any

constexpr uint32_t HEADER_TEXT_SIZE = 64;  // a text field: at most 63 bytes, then NUL padding
constexpr int32_t VOLUME_WHOLE = -1;

// The attachment carries the whole product: an upgrade removes what the
// product's record lists there unchanged and this attachment no longer
// installs. Without it an installer may be an add-on or a patch, and what
// it does not ship is someone else's to keep. A field that earlier
// installers never looked at, under the header's CRC: they install such an
// attachment as any other.
constexpr uint32_t HEADER_FLAG_WHOLE_PRODUCT = 1;

static_assert(HEADER_PRODUCT_VERSION == HEADER_PRODUCT_NAME + HEADER_TEXT_SIZE);
static_assert(HEADER_PLATFORM == HEADER_PRODUCT_VERSION + HEADER_TEXT_SIZE);
static_assert(HEADER_RESERVED_TEXT + HEADER_TEXT_SIZE + 66 == HEADER_BUILD_TIME);
static_assert(HEADER_BUILD_TIME + 4 * 4 + 272 == HEADER_SIZE);
static_assert(HEADER_SIZE > HEADER_ALIGN, "a header read at the last aligned offset can overrun a file");

// ---- marker ----------------------------------------------------------------
constexpr uint32_t MARKER_SIZE = 252;
// The image must never contain the marker it searches for, so it holds a copy
// with this one character lowered by one and rebuilds the real marker at run
// time (make_marker).
constexpr uint32_t MARKER_ALTERED_INDEX = 40;

// Writes the real 252-byte marker into `out`.
void make_marker(uint8_t out[MARKER_SIZE]);

// ---- entry record ----------------------------------------------------------
constexpr uint32_t RECORD_LENGTH = 0;   // u32, the whole record, this field included
constexpr uint32_t RECORD_CRC = 4;      // CRC over the record with these 2 bytes zero
constexpr uint32_t RECORD_FILE_CRC = 6; // CRC of the installed bytes
constexpr uint32_t RECORD_STORED_CRC = 8; // CRC of the stored data
constexpr uint32_t RECORD_FLAGS = 10;        // u16, RECORD_FLAG_* bits; 0 before there were any
constexpr uint32_t RECORD_FILE_SIZE = 12;    // u32
constexpr uint32_t RECORD_STORED_SIZE = 16;  // u32
constexpr uint32_t RECORD_ENTRY_TYPE = 20;   // u32
constexpr uint32_t RECORD_RESERVED_24 = 24;  // u32, 0
constexpr uint32_t RECORD_STREAM_OFFSET = 28; // u32, offset from the first record
constexpr uint32_t RECORD_MOD_TIME = 32;     // i32, 0: leave times and mode alone
constexpr uint32_t RECORD_MODE = 36;         // u16, st_mode with file-type bits
constexpr uint32_t RECORD_NAME = 38;         // NUL-terminated text up to record_length

constexpr uint32_t RECORD_MIN_LENGTH = 41;    // a record of 40 bytes or less is corrupt
constexpr uint32_t RECORD_MAX_LENGTH = 4136;
constexpr uint32_t RECORD_NAME_PADDING = 8;   // the NUL and seven zero bytes behind a name
// The longest name a writer can put in a record of the largest size.
constexpr uint32_t RECORD_MAX_NAME = RECORD_MAX_LENGTH - RECORD_NAME - RECORD_NAME_PADDING;

// A configuration file: an upgrade that finds the user's copy changed keeps
// it and puts the new version beside it. Earlier installers never read the
// field, and it lies under the record's CRC, so a record carrying it
// installs with them as any other.
constexpr uint16_t RECORD_FLAG_CONFIG = 1;

static_assert(RECORD_MODE + 2 == RECORD_NAME);
static_assert(RECORD_MAX_NAME == 4090);

constexpr uint32_t ENTRY_STORED = 0;
constexpr uint32_t ENTRY_COMPRESSED = 1;  // -lh5-; every type not named here is read as this
constexpr uint32_t ENTRY_DELETE = 2;
// Zstandard: the entries of one frame are the files of a solid run, one
// unbroken stream. An entry's stored data is the whole blocks whose decoded
// bytes begin in its file (none when the file lies inside a block that began
// earlier), so the stream can be checked and handed on entry by entry, and
// decoding a file never needs a later entry's data: what a block decodes to
// beyond the file is the start of the files behind it. The frame ends with
// an empty block behind the last file's data. The decoder's history runs on
// across the entries, so each file is compressed against those before it.
constexpr uint32_t ENTRY_ZSTD_FRAME = 3;      // begins a new frame
constexpr uint32_t ENTRY_ZSTD_CONTINUED = 4;  // goes on with the frame of the previous Zstandard entry
// The records of the entries behind it, compressed together (Zstandard, one
// frame of their own): a product's names share most of their bytes, which
// a record each in the open would repeat. The block's own record is in the
// open and is no entry: it is not counted in entry_count or the header's
// totals. Its file_size is the decoded length, file_crc that of the decoded
// bytes. Those bytes hold whole records (RECORD_BLOCK_MAX bytes at most)
// stored column by column (record_columns.h), each record checked, once
// back in one piece, as any record is; the entries' stored data
// follows the block's, in their order, and an entry's stream_offset counts
// from the first byte behind the block. Once the block's records are used
// up the next record is in the open again. A block never holds a block. A
// program without Zstandard reads the type as any unknown one.
constexpr uint32_t ENTRY_RECORD_BLOCK = 5;
constexpr uint32_t RECORD_BLOCK_MAX = 1u << 20;
// The name in a block's record, which is never shown or installed.
#define RECORD_BLOCK_NAME "records"
// Stored data a block may have: its records as they are, with room for a
// frame's headers; anything larger is refused unread.
constexpr uint32_t RECORD_BLOCK_STORED_MAX = RECORD_BLOCK_MAX + (64u << 10);
static_assert(RECORD_BLOCK_MAX >= RECORD_MAX_LENGTH, "a block holds at least the longest record");
// 6 and 7 are free.

inline bool entry_is_zstd(uint32_t type) { return type == ENTRY_ZSTD_FRAME || type == ENTRY_ZSTD_CONTINUED; }

// The largest history a frame may ask of the decoder: what bounds the
// installer's memory. A frame asking for more is refused.
constexpr int ZSTD_WINDOW_LOG_MAX = 24;
// A file larger than this begins a frame of its own: the installer may decode
// such a file twice (once to check it, then into its place), which only a
// frame's first entry allows. Tied to the read-ahead's limit in the engine.
constexpr uint32_t ZSTD_CONTINUED_LARGEST = 1u << 20;
// A symbolic link: its target is the stored data, held as it is (stored_size
// equals file_size, 1 to LINK_TARGET_MAX bytes, no NUL); the mode is the
// link's own.
constexpr uint32_t ENTRY_SYMLINK = 8;
// A directory with its mode, made even when no file lies in it: no data,
// both sizes 0.
constexpr uint32_t ENTRY_DIRECTORY = 9;
// The vendor's post-install step: the program (or script) is the stored
// data, held as it is; the name is the vendor's file name, for listings. It
// installs nothing, comes last, and runs once the installation is complete.
constexpr uint32_t ENTRY_POST_INSTALL = 10;

// A hard link: one more name for the file an earlier entry installs, whose
// data is stored once. Its stored data is that entry's name as its record
// spells it (stored_size equals file_size, 1 to RECORD_MAX_NAME bytes, no
// NUL), file_crc the name's; its mode and time are the file's own, which
// the link shares and does not set. The entry named must come before it
// and install a file's data (stored, -lh5- or Zstandard), and no entry
// between them may put anything else at that path: the checks before the
// first change refuse anything else. An installer older than the type
// reads it as -lh5- data, which the name does not decode to (its CRC does
// not match but by a chance of one in 65,536, as for a symbolic link): it
// ends at the entry with "Corrupted file(s)" or "Decompression error",
// keeping what the path held.
constexpr uint32_t ENTRY_HARD_LINK = 11;

// A target the system can store in a link: shorter than PATH_MAX.
constexpr uint32_t LINK_TARGET_MAX = 4095;
static_assert(RECORD_MAX_NAME <= LINK_TARGET_MAX, "a hard link's name is held where a link's target is");

// The types whose stored data is the installed data, uncompressed.
inline bool entry_data_is_stored(uint32_t type) {
  return type == ENTRY_STORED || type == ENTRY_SYMLINK || type == ENTRY_DIRECTORY || type == ENTRY_POST_INSTALL ||
         type == ENTRY_HARD_LINK;
}
// Links of both kinds: their stored data is a path, small, held whole and
// shown in listings.
inline bool entry_is_link(uint32_t type) { return type == ENTRY_SYMLINK || type == ENTRY_HARD_LINK; }
// Links and directories: entries that bring no data of their own and count
// as size 0 towards the header's total and the progress.
inline bool entry_is_tree_object(uint32_t type) { return entry_is_link(type) || type == ENTRY_DIRECTORY; }
// The entries whose file_size counts towards the header's total: the only
// ones a hard link may name.
inline bool entry_installs_file(uint32_t type) {
  return type != ENTRY_DELETE && type != ENTRY_POST_INSTALL && !entry_is_tree_object(type);
}

// ---- field access ----------------------------------------------------------
inline uint32_t get_u32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline int32_t get_i32(const uint8_t* p) { return int32_t(get_u32(p)); }
// A CRC field read as a little-endian u16: the form crc16 returns.
inline uint16_t get_u16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline void put_u32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
inline void put_u16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

// Only a file entry can be a configuration file; the bit means nothing on
// any other type. `record` is a whole record that passed its CRC.
inline bool record_is_config(const uint8_t* record) {
  uint32_t type = get_u32(record + RECORD_ENTRY_TYPE);
  return (get_u16(record + RECORD_FLAGS) & RECORD_FLAG_CONFIG) != 0 && entry_installs_file(type) &&
         type != ENTRY_RECORD_BLOCK;
}

// The header block held in memory as its raw bytes.
struct AttachmentHeader {
  uint8_t bytes[HEADER_SIZE];
};

inline uint32_t header_entry_count(const AttachmentHeader& h) { return get_u32(h.bytes + HEADER_ENTRY_COUNT); }
inline uint32_t header_total_file_size(const AttachmentHeader& h) { return get_u32(h.bytes + HEADER_TOTAL_FILE); }
inline int32_t header_volume(const AttachmentHeader& h) { return get_i32(h.bytes + HEADER_VOLUME); }
inline uint32_t header_space_required(const AttachmentHeader& h) { return get_u32(h.bytes + HEADER_SPACE_REQUIRED); }
inline int32_t header_build_time(const AttachmentHeader& h) { return get_i32(h.bytes + HEADER_BUILD_TIME); }
inline bool header_whole_product(const AttachmentHeader& h) {
  return (get_u32(h.bytes + HEADER_FLAGS) & HEADER_FLAG_WHOLE_PRODUCT) != 0;
}
// Text fields as C strings. A writer always terminates them, but a header that
// passed its CRC can still fill all 64 bytes, so readers go through this copy.
inline void header_text(const AttachmentHeader& h, uint32_t offset, char out[HEADER_TEXT_SIZE]) {
  memcpy(out, h.bytes + offset, HEADER_TEXT_SIZE - 1);
  out[HEADER_TEXT_SIZE - 1] = 0;
}
