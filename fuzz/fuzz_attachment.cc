#include "fuzz/fuzz_attachment.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/crc16.h"
#include "archive/format.h"
#include "codec/codec_context.h"
#include "codec/decoder.h"

namespace {

// The file_crc the installer will compute: the stream decoded in slices of
// one window, as the installer calls the decoder.
uint16_t decoded_crc(const uint8_t* table, const uint8_t* stored, uint32_t stored_size, uint32_t file_size) {
  std::vector<uint8_t> data(file_size ? file_size : 1);
  CodecContext* codec = nullptr;
  if (codec_create(&codec) < 0) return 0;
  ByteRange in{}, out{};
  in.cur = in.start = const_cast<uint8_t*>(stored);
  in.end = in.cur + stored_size;
  in.size = int32_t(stored_size);
  for (uint32_t done = 0;;) {
    uint32_t chunk = file_size - done < CODEC_WINDOW ? file_size - done : CODEC_WINDOW;
    out.cur = out.start = data.data() + done;
    out.end = out.cur + chunk;
    out.size = int32_t(chunk);
    int32_t result = codec_decode(codec, &in, &out);
    done += chunk;
    if (done == file_size || result < 0) break;
  }
  codec_release(&codec);
  return crc16(table, data.data(), file_size);
}

}  // namespace

std::string fuzz_installer_file(const uint8_t* data, size_t size) {
  if (size == 0) return "";
  const uint8_t flags = data[0];
  if (flags & FUZZ_WHOLE_FILE) return std::string(reinterpret_cast<const char*>(data) + 1, size - 1);

  static const char stub_text[] = "#!fuzz stub image\n";
  std::string file(FUZZ_STUB_SIZE, '\0');
  memcpy(file.data(), stub_text, sizeof stub_text - 1);
  file.append(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (file.size() < FUZZ_STUB_SIZE + HEADER_SIZE) return file;
  auto* bytes = reinterpret_cast<uint8_t*>(file.data());
  uint8_t* header = bytes + FUZZ_STUB_SIZE;
  if (flags & FUZZ_SET_MARKER) make_marker(header + HEADER_MARKER);

  uint8_t* table = crc16_table();
  if (!table) abort();
  for (size_t at = FUZZ_STUB_SIZE + HEADER_SIZE; at + 4 <= file.size();) {
    uint8_t* r = bytes + at;
    const uint32_t length = get_u32(r + RECORD_LENGTH);
    if (length < RECORD_MIN_LENGTH || length > RECORD_MAX_LENGTH || length > file.size() - at) break;
    const uint32_t type = get_u32(r + RECORD_ENTRY_TYPE);
    const uint32_t file_size = get_u32(r + RECORD_FILE_SIZE);
    const uint64_t stored_size = type == ENTRY_DELETE ? 0 : get_u32(r + RECORD_STORED_SIZE);
    const size_t stored_at = at + length;
    const bool whole = stored_size <= file.size() - stored_at;
    if (type != ENTRY_DELETE && whole) {
      const uint8_t* stored = bytes + stored_at;
      if (flags & FUZZ_FIX_STORED_CRCS) put_u16(r + RECORD_STORED_CRC, crc16(table, stored, uint32_t(stored_size)));
      if (flags & FUZZ_FIX_FILE_CRCS) {
        if (entry_data_is_stored(type) && file_size <= stored_size)
          put_u16(r + RECORD_FILE_CRC, crc16(table, stored, file_size));
        else if (!entry_data_is_stored(type) && file_size <= FUZZ_DECODE_LIMIT)
          put_u16(r + RECORD_FILE_CRC, decoded_crc(table, stored, uint32_t(stored_size), file_size));
      }
    }
    if (flags & FUZZ_FIX_RECORD_CRCS) {
      put_u16(r + RECORD_CRC, 0);
      put_u16(r + RECORD_CRC, crc16(table, r, length));
    }
    if (!whole) break;
    at = stored_at + stored_size;
  }
  if (flags & FUZZ_FIX_HEADER_CRC) {
    put_u16(header + HEADER_CRC, 0);
    put_u16(header + HEADER_CRC, crc16(table, header, HEADER_SIZE));
  }
  free(table);
  return file;
}

bool fuzz_decodes_too_much(const std::string& file, uint32_t allocation_limit) {
  // The entries behind the first aligned block that holds the marker, where
  // the installer looks for them.
  uint8_t marker[MARKER_SIZE];
  make_marker(marker);
  size_t header = HEADER_ALIGN;
  while (header + HEADER_SIZE <= file.size() && memcmp(file.data() + header, marker, MARKER_SIZE) != 0)
    header += HEADER_ALIGN;
  const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
  for (size_t at = header + HEADER_SIZE; at + 4 <= file.size();) {
    const uint8_t* r = bytes + at;
    const uint32_t length = get_u32(r + RECORD_LENGTH);
    if (length < RECORD_MIN_LENGTH || length > RECORD_MAX_LENGTH || length > file.size() - at) break;
    const uint32_t type = get_u32(r + RECORD_ENTRY_TYPE);
    const uint32_t file_size = get_u32(r + RECORD_FILE_SIZE);
    const uint64_t stored_size = type == ENTRY_DELETE ? 0 : get_u32(r + RECORD_STORED_SIZE);
    if (stored_size > file.size() - at - length) break;
    if (!entry_data_is_stored(type) && type != ENTRY_DELETE && file_size > FUZZ_DECODE_BUDGET &&
        file_size <= allocation_limit)
      return true;
    at += length + stored_size;
  }
  return false;
}
