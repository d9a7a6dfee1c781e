#include "pack/signing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include <sodium.h>

#include "pack/failure.h"
#include "pack/output_file.h"
#include "pack/text_escape.h"

namespace {

// minisign's secret key: "Ed", the KDF ("Sc" scrypt, or two zero bytes for
// none), "B2" (the checksum's hash), the salt, the KDF's limits, then the
// key ID, the key and its checksum, XORed with the KDF's output when sealed.
constexpr size_t SALT_SIZE = crypto_pwhash_scryptsalsa208sha256_SALTBYTES;
constexpr size_t CHECKSUM_SIZE = crypto_generichash_BYTES;
constexpr size_t SEALED_SIZE = SIGNER_ID_SIZE + 64 + CHECKSUM_SIZE;
constexpr size_t SECRET_FILE_BYTES = 6 + SALT_SIZE + 16 + SEALED_SIZE;
static_assert(SECRET_FILE_BYTES == 158);
// minisign's own limits, so that its tools open our keys in the same time.
constexpr uint64_t OPSLIMIT = crypto_pwhash_scryptsalsa208sha256_OPSLIMIT_SENSITIVE;
constexpr uint64_t MEMLIMIT = crypto_pwhash_scryptsalsa208sha256_MEMLIMIT_SENSITIVE;
// What a sealed key's limits may ask for before it counts as damaged.
constexpr uint64_t MEMLIMIT_MAX = uint64_t(4) << 30;

void ensure_sodium() {
  if (sodium_init() < 0) throw Failure("libsodium cannot start");
}

std::string base64(const uint8_t* bytes, size_t size) {
  std::vector<char> text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL));
  sodium_bin2base64(text.data(), text.size(), bytes, size, sodium_base64_VARIANT_ORIGINAL);
  return text.data();
}

void put_u64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; i++) p[i] = uint8_t(v >> (8 * i));
}
uint64_t get_u64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; i--) v = v << 8 | p[i];
  return v;
}

void checksum_of(const uint8_t* id, const uint8_t* secret, uint8_t out[CHECKSUM_SIZE]) {
  uint8_t input[2 + SIGNER_ID_SIZE + 64] = {'E', 'd'};
  memcpy(input + 2, id, SIGNER_ID_SIZE);
  memcpy(input + 2 + SIGNER_ID_SIZE, secret, 64);
  crypto_generichash(out, CHECKSUM_SIZE, input, sizeof input, nullptr, 0);
}

// A line from the terminal without echo, or from standard input.
std::string ask_passphrase(const char* prompt) {
  bool terminal = isatty(STDIN_FILENO);
  struct termios saved {};
  if (terminal) {
    fprintf(stderr, "%s", prompt);
    fflush(stderr);
    tcgetattr(STDIN_FILENO, &saved);
    struct termios quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  int c;
  while ((c = getchar()) != EOF && c != '\n') line += char(c);
  if (terminal) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    fputc('\n', stderr);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// The KDF's output over the sealed part, XORed in place: seals and opens.
void apply_passphrase(uint8_t* sealed, const std::string& passphrase, const uint8_t* salt, uint64_t ops,
                      uint64_t mem) {
  std::vector<uint8_t> stream(SEALED_SIZE);
  if (crypto_pwhash_scryptsalsa208sha256(stream.data(), stream.size(), passphrase.data(), passphrase.size(), salt,
                                         ops, size_t(mem)) != 0)
    throw Failure("not enough memory to derive the key from the passphrase");
  for (size_t i = 0; i < SEALED_SIZE; i++) sealed[i] ^= stream[i];
  sodium_memzero(stream.data(), stream.size());
}

std::string read_small_file(const std::string& path, const char* what) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) throw Failure(system_failure(path, std::string("cannot open the ") + what, errno));
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0 && text.size() < 65536) text.append(buffer, n);
  fclose(f);
  return text;
}

void write_key_file(const std::string& path, const std::string& text, mode_t mode, bool force) {
  struct stat st;
  if (!force && lstat(path.c_str(), &st) == 0)
    throw Failure(path + ": exists already; -f replaces it");
  OutputFile out(path, {}, OutputFile::REGULAR_ONLY);
  if (fwrite(text.data(), 1, text.size(), out.stream()) != text.size())
    throw Failure(system_failure(out.label(), "cannot write", errno));
  out.close(mode, true);
  out.commit();
}

struct FileHash {
  uint8_t digest[crypto_generichash_BYTES_MAX];
};

FileHash hash_prefix(const std::string& path, uint64_t length) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Failure(system_failure(path, "cannot open", errno));
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, crypto_generichash_BYTES_MAX);
  std::vector<uint8_t> buffer(1 << 20);
  for (uint64_t done = 0; done < length;) {
    size_t want = size_t(std::min<uint64_t>(buffer.size(), length - done));
    ssize_t n = pread(fd, buffer.data(), want, off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int error = n == 0 ? EIO : errno;
      close(fd);
      throw Failure(system_failure(path, "cannot read", error));
    }
    crypto_generichash_update(&state, buffer.data(), size_t(n));
    done += uint64_t(n);
  }
  close(fd);
  FileHash h;
  crypto_generichash_final(&state, h.digest, sizeof h.digest);
  return h;
}

uint64_t file_size(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) throw Failure(system_failure(path, "cannot read", errno));
  return uint64_t(st.st_size);
}

// The trusted comment as minisign writes it; SOURCE_DATE_EPOCH keeps the
// signature as reproducible as the installer (Ed25519 is deterministic).
std::string trusted_comment(const std::string& file_name) {
  long long now = (long long)time(nullptr);
  if (const char* epoch = getenv("SOURCE_DATE_EPOCH")) {
    char* end;
    long long given = strtoll(epoch, &end, 10);
    if (*epoch && !*end && given >= 0) now = given;
  }
  std::string name;
  // A name with a line break or a tab would end the comment or blur its fields.
  for (char c : file_name) name += (c == '\n' || c == '\r' || c == '\t') ? '_' : c;
  return "timestamp:" + std::to_string(now) + "\tfile:" + name + "\thashed";
}

}  // namespace

SignerKey SecretKey::public_key() const {
  SignerKey k;
  memcpy(k.id, id, SIGNER_ID_SIZE);
  crypto_sign_ed25519_sk_to_pk(k.public_key, secret);
  return k;
}

SignerKey generate_key_pair(const std::string& public_path, const std::string& secret_path, bool no_passphrase,
                            bool force) {
  ensure_sodium();
  struct stat st;
  for (const std::string& path : {public_path, secret_path})
    if (!force && lstat(path.c_str(), &st) == 0) throw Failure(path + ": exists already; -f replaces it");
  std::string passphrase;
  if (!no_passphrase) {
    passphrase = ask_passphrase("Passphrase: ");
    if (isatty(STDIN_FILENO) && ask_passphrase("Passphrase (again): ") != passphrase)
      throw Failure("the passphrases differ; nothing written");
    if (passphrase.empty()) throw Failure("an empty passphrase; -W makes a key without one");
  }
  SecretKey key;
  uint8_t public_key[32];
  randombytes_buf(key.id, sizeof key.id);
  crypto_sign_ed25519_keypair(public_key, key.secret);

  uint8_t bytes[SECRET_FILE_BYTES] = {'E', 'd', 0, 0, 'B', '2'};
  uint8_t* salt = bytes + 6;
  uint8_t* sealed = salt + SALT_SIZE + 16;
  memcpy(sealed, key.id, SIGNER_ID_SIZE);
  memcpy(sealed + SIGNER_ID_SIZE, key.secret, 64);
  checksum_of(key.id, key.secret, sealed + SIGNER_ID_SIZE + 64);
  if (!no_passphrase) {
    memcpy(bytes + 2, "Sc", 2);
    randombytes_buf(salt, SALT_SIZE);
    put_u64(salt + SALT_SIZE, OPSLIMIT);
    put_u64(salt + SALT_SIZE + 8, MEMLIMIT);
    fputs("Deriving a key from the passphrase...\n", stderr);
    apply_passphrase(sealed, passphrase, salt, OPSLIMIT, MEMLIMIT);
  }
  SignerKey signer = key.public_key();
  std::string id = key_id_string(key.id);
  write_key_file(secret_path,
                 std::string("untrusted comment: ") + (no_passphrase ? "" : "encrypted ") + "secret key " + id +
                     " of zolt-pack\n" + base64(bytes, sizeof bytes) + "\n",
                 0600, force);
  sodium_memzero(bytes, sizeof bytes);
  char line[PUBLIC_KEY_TEXT_SIZE];
  signer_key_format(signer, line);
  write_key_file(public_path, "untrusted comment: minisign public key " + id + "\n" + line + "\n", 0644, force);
  sodium_memzero(&key, sizeof key);
  return signer;
}

SecretKey read_secret_key(const std::string& path) {
  ensure_sodium();
  std::string text = read_small_file(path, "secret key");
  size_t start = 0;
  std::string line;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.rfind("untrusted comment:", 0) != 0) break;
    line.clear();
  }
  uint8_t bytes[SECRET_FILE_BYTES];
  size_t decoded = 0;
  const char* end = nullptr;
  if (line.empty() ||
      sodium_base642bin(bytes, sizeof bytes, line.data(), line.size(), nullptr, &decoded, &end,
                        sodium_base64_VARIANT_ORIGINAL) != 0 ||
      decoded != sizeof bytes || memcmp(bytes, "Ed", 2) != 0 || memcmp(bytes + 4, "B2", 2) != 0)
    throw Failure(path + ": not a minisign secret key");
  uint8_t* salt = bytes + 6;
  uint8_t* sealed = salt + SALT_SIZE + 16;
  bool with_passphrase = memcmp(bytes + 2, "Sc", 2) == 0;
  if (!with_passphrase && (bytes[2] != 0 || bytes[3] != 0)) throw Failure(path + ": a key derivation this tool does not know");
  if (with_passphrase) {
    uint64_t ops = get_u64(salt + SALT_SIZE), mem = get_u64(salt + SALT_SIZE + 8);
    if (mem > MEMLIMIT_MAX || ops > (uint64_t(1) << 40)) throw Failure(path + ": the key's limits are out of range");
    apply_passphrase(sealed, ask_passphrase("Passphrase: "), salt, ops, mem);
  }
  SecretKey key;
  memcpy(key.id, sealed, SIGNER_ID_SIZE);
  memcpy(key.secret, sealed + SIGNER_ID_SIZE, 64);
  uint8_t checksum[CHECKSUM_SIZE], zero[CHECKSUM_SIZE] = {};
  checksum_of(key.id, key.secret, checksum);
  const uint8_t* stored = sealed + SIGNER_ID_SIZE + 64;
  // minisign leaves the checksum of a key without passphrase empty.
  bool unchecked = !with_passphrase && memcmp(stored, zero, CHECKSUM_SIZE) == 0;
  bool valid = unchecked || sodium_memcmp(checksum, stored, CHECKSUM_SIZE) == 0;
  sodium_memzero(bytes, sizeof bytes);
  if (!valid)
    throw Failure(path + (with_passphrase ? ": wrong passphrase" : ": the secret key is damaged (its checksum fails)"));
  return key;
}

std::string sign_file(const SecretKey& key, const std::string& path, const std::string& file_name) {
  ensure_sodium();
  FileHash hash = hash_prefix(path, file_size(path));
  uint8_t signature[2 + SIGNER_ID_SIZE + SIGNATURE_SIZE] = {'E', 'D'};
  memcpy(signature + 2, key.id, SIGNER_ID_SIZE);
  crypto_sign_ed25519_detached(signature + 2 + SIGNER_ID_SIZE, nullptr, hash.digest, sizeof hash.digest, key.secret);
  std::string comment = trusted_comment(file_name);
  std::vector<uint8_t> global_input(signature + 2 + SIGNER_ID_SIZE, signature + sizeof signature);
  global_input.insert(global_input.end(), comment.begin(), comment.end());
  uint8_t global[SIGNATURE_SIZE];
  crypto_sign_ed25519_detached(global, nullptr, global_input.data(), global_input.size(), key.secret);
  return "untrusted comment: signature from zolt-pack secret key\n" + base64(signature, sizeof signature) +
         "\ntrusted comment: " + comment + "\n" + base64(global, sizeof global) + "\n";
}

void append_signature_block(const SecretKey& key, const std::string& path, const std::string& file_name) {
  std::string text = sign_file(key, path, file_name);
  char line[PUBLIC_KEY_TEXT_SIZE];
  signer_key_format(key.public_key(), line);
  text += std::string(line) + "\n";
  if (text.size() > SIGNATURE_TEXT_MAX) throw Failure(path + ": the signature block is too long");
  uint8_t trailer[SIGNATURE_TRAILER_SIZE];
  for (int i = 0; i < 4; i++) trailer[i] = uint8_t(text.size() >> (8 * i));
  memcpy(trailer + 4, SIGNATURE_MAGIC, 8);
  text.append(reinterpret_cast<const char*>(trailer), sizeof trailer);
  FILE* f = fopen(path.c_str(), "ab");
  if (!f) throw Failure(system_failure(path, "cannot open", errno));
  bool written = fwrite(text.data(), 1, text.size(), f) == text.size();
  int error = errno;
  if (fclose(f) != 0 && written) written = false, error = errno;
  if (!written) throw Failure(system_failure(path, "cannot write", error));
}

