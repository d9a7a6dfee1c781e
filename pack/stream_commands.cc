// zolt-pack encode and decode: the codec's raw compressed stream, for tests,
// benchmarks and exchanging data with other -lh5- tools. The stream carries
// no length, so decode is told the size of the result.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "codec/codec_context.h"
#include "codec/encoder.h"
#include "engine/read/entry_decode.h"
#include "pack/command_line.h"
#include "pack/commands.h"
#include "pack/failure.h"
#include "pack/output_file.h"

const char* const ENCODE_USAGE =
    "Usage: zolt-pack encode [-o OUT] [IN]\n"
    "Compress IN (default: standard input) into one raw -lh5- stream, as held by\n"
    "a compressed entry, written to OUT (default: standard output).\n"
    "\n"
    "  -o, --output=OUT  write the stream to OUT\n"
    "  -h, --help        show this help and exit\n";

const char* const DECODE_USAGE =
    "Usage: zolt-pack decode --size N [-o OUT] [IN]\n"
    "Decode one raw -lh5- stream from IN (default: standard input) into the N\n"
    "bytes it stands for, written to OUT (default: standard output). The stream\n"
    "holds no length of its own, hence --size.\n"
    "\n"
    "  -s, --size=N      the decoded size in bytes (required)\n"
    "  -o, --output=OUT  write the result to OUT\n"
    "  -h, --help        show this help and exit\n";

namespace {

enum { OPT_HELP = 1, OPT_OUTPUT, OPT_SIZE };

struct StreamOptions {
  bool help = false;
  std::string input = "-", output = "-";
  bool has_size = false;
  uint64_t size = 0;
};

StreamOptions parse_stream_options(const std::string& command, const Arguments& args, bool with_size) {
  std::vector<OptionDecl> decls = {{"help", 'h', false, OPT_HELP}, {"output", 'o', true, OPT_OUTPUT}};
  if (with_size) decls.push_back({"size", 's', true, OPT_SIZE});
  ParsedCommandLine cl = parse_command_line(command, args, decls);
  StreamOptions o;
  for (const ParsedOption& p : cl.options) {
    if (p.id == OPT_HELP) o.help = true;
    if (p.id == OPT_OUTPUT) o.output = p.value;
    if (p.id == OPT_SIZE) {
      // A file of an installer is below 4 GiB; a raw stream may stand for more.
      o.size = parse_count(command, p.spelling, p.value, uint64_t(1) << 40);
      o.has_size = true;
    }
  }
  if (o.help) return o;
  if (cl.operands.size() > 1) throw UsageError(command, "one input at a time");
  if (!cl.operands.empty()) o.input = cl.operands[0];
  if (o.output.empty()) throw UsageError(command, "option '-o' needs a file name");
  return o;
}

std::vector<uint8_t> read_input(const std::string& name) {
  FILE* f = name == "-" ? stdin : fopen(name.c_str(), "rb");
  std::string label = name == "-" ? "standard input" : name;
  if (!f) throw Failure(system_failure(label, "cannot open", errno));
  // One read of the whole file where its size is known; pipes grow the buffer.
  struct stat st;
  bool sized = fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode);
  std::vector<uint8_t> bytes(sized ? size_t(st.st_size) + 1 : size_t(1) << 16);
  size_t used = 0;
  while (size_t n = fread(bytes.data() + used, 1, bytes.size() - used, f)) {
    used += n;
    if (used == bytes.size()) bytes.resize(bytes.size() * 2);
  }
  bytes.resize(used);
  bool failed = ferror(f);
  int error_number = errno;
  if (f != stdin) fclose(f);
  if (failed) throw Failure(system_failure(label, "cannot read", error_number));
  return bytes;
}

// Writes everything or throws Failure naming the output.
void write_out(OutputFile& out, const uint8_t* data, size_t size) {
  if (size && fwrite(data, 1, size, out.stream()) != size)
    throw Failure(system_failure(out.label(), "cannot write", errno));
}

struct CodecHandle {
  CodecContext* context = nullptr;
  CodecHandle() {
    if (codec_create(&context) < 0) throw Failure("not enough memory for a codec context");
  }
  ~CodecHandle() { codec_release(&context); }
};

}  // namespace

int encode_command(const Arguments& args) {
  StreamOptions o = parse_stream_options("encode", args, false);
  if (o.help) {
    fputs(ENCODE_USAGE, stdout);
    return 0;
  }
  OutputFile out(o.output, {o.input});
  if (out.is_terminal()) throw UsageError("encode", "compressed data is not written to a terminal; use -o or a pipe");
  std::vector<uint8_t> input = read_input(o.input);
  CodecHandle codec;
  // Incompressible data grows a little; if the guess is short, try again
  // with twice the room.
  size_t room = input.size() + input.size() / 8 + 1024;
  for (;;) {
    std::unique_ptr<uint8_t[]> stream(new uint8_t[room]);
    ByteRange in{}, result{};
    in.cur = in.start = input.data();
    in.end = input.data() + input.size();
    result.cur = result.start = stream.get();
    result.end = stream.get() + room;
    codec.context->status = 0;
    codec.context->out_full = 0;
    int32_t r = codec_encode(codec.context, &in, &result);
    if (r < 0) throw Failure("encode: compression failed (codec result " + std::to_string(r) + ")");
    if (r == 1) {
      write_out(out, stream.get(), size_t(result.cur - stream.get()));
      break;
    }
    room *= 2;
  }
  out.close(default_file_mode());
  out.commit();
  return 0;
}

int decode_command(const Arguments& args) {
  StreamOptions o = parse_stream_options("decode", args, true);
  if (o.help) {
    fputs(DECODE_USAGE, stdout);
    return 0;
  }
  if (!o.has_size) throw UsageError("decode", "the decoded size is required: give --size N");
  OutputFile out(o.output, {o.input});
  std::vector<uint8_t> input = read_input(o.input);
  CodecHandle codec;
  // A failed write is thrown once the decoder has returned, not through it.
  struct Written {
    OutputFile* out;
    std::exception_ptr failure;
  } written{&out, nullptr};
  const EntrySink sink{[](void* context, const uint8_t* data, uint32_t size) {
                         Written* w = static_cast<Written*>(context);
                         try {
                           write_out(*w->out, data, size);
                           return 0;
                         } catch (...) {
                           w->failure = std::current_exception();
                           return -1;
                         }
                       },
                       &written};
  StoredInput in = stored_held(input.data(), input.size());
  DecodeOutput decoded{&sink, nullptr, nullptr, nullptr, 0, 0};
  int fault = decode_lh5(codec.context, &in, o.size, &decoded);
  if (written.failure) std::rethrow_exception(written.failure);
  if (fault != FAILURE_NONE)
    throw Failure(std::string(o.input == "-" ? "standard input" : o.input) + ": not a valid stream (at output byte " +
                  std::to_string(decoded.at) + " or before)");
  out.close(default_file_mode());
  out.commit();
  return 0;
}
