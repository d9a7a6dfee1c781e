#include "engine/failure.h"

#include <cstdio>
#include <cstring>

namespace {

struct FailureText {
  const char* message;
  const char* detail;  // not null: the system's error goes between them
};

constexpr FailureText texts[] = {
    {nullptr, nullptr},
    {"Corrupted file(s) (err=1).", nullptr},
    {"Corrupted file(s) (err=2).", nullptr},
    {"Corrupted file(s) (err=3).", nullptr},
    {"Corrupted file(s) (err=4).", nullptr},
    {"Corrupted file(s) (err=5).", nullptr},
    {"Corrupted file(s) (err=6).", nullptr},
    {"Corrupted file(s) (err=7).", nullptr},
    {"Corrupted file(s) (err=8).", nullptr},
    {"Decompression error (err=1).", nullptr},
    {"Corrupted file(s) (err=10).", nullptr},
    {"Memory allocation error (err=3).", nullptr},
    {"Another installation into this directory is running (err=9).", nullptr},
    {"Can't create directory", "(err=4)."},
    {"Can't create file", "(err=5)."},
    {"Error saving data", "(err=1)."},
    {"Can't save the installation record", "(err=1)."},
    {"Can't open the installation record", "(err=1)."},
    {"No installation of this product is recorded in this directory.", nullptr},
    {"The installation record in this directory could have been written by another user: it is not trusted.",
     nullptr},
    {"Can't replace what is in the way, not installed by this product or changed since (err=14):", nullptr},
    {"The installer is not signed.", nullptr},
    {"The installer's signature is damaged.", nullptr},
    {"The installer is signed by another key:", nullptr},
    {"The installer's signature does not match its contents: it was changed after signing.", nullptr},
    {"Can't read the installer to check its signature", "(err=1)."},
    {"This installer was built without signature checks.", nullptr},
    {"Not a minisign public key, nor a file holding one:", nullptr},
    {"The installed version has another signer; --accept-new-signer installs this one anyway:", nullptr},
};
static_assert(sizeof texts / sizeof texts[0] == FAILURE_CODE_COUNT, "one text for every failure");

const FailureText* text_of(int code) { return code > FAILURE_NONE && code < FAILURE_CODE_COUNT ? &texts[code] : nullptr; }

}  // namespace

const char* failure_message(int code) {
  const FailureText* t = text_of(code);
  return t ? t->message : nullptr;
}

const char* failure_detail(int code) {
  const FailureText* t = text_of(code);
  return t ? t->detail : nullptr;
}

size_t failure_text(const EngineFailure& failure, char* out, size_t size) {
  const FailureText* t = text_of(failure.code);
  if (!t) {
    if (size > 0) *out = 0;
    return 0;
  }
  if (!t->detail) return size_t(snprintf(out, size, "%s", t->message));
  const char* system = failure.error_number ? strerror(failure.error_number) : "";
  return size_t(snprintf(out, size, "%s%s%s %s", t->message, *system ? " - " : "", system, t->detail));
}

int fail_with(EngineFailure* failure, int code, int error_number) {
  *failure = EngineFailure{code, error_number};
  return -1;
}
