#include "installer/termination.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "archive/attachment_reader.h"
#include "tests/support/process.h"

namespace {

const std::string kEnding = "\n\nInstallation terminated.\n";

// A message means failure, status 1; without one (a cancel) the status is 0.
std::string output_of(const std::function<void()>& body, int status = 1) {
  ProcessResult r = run_in_child(body);
  EXPECT_EQ(r.exit_status, status);
  EXPECT_EQ(r.out, "");
  return r.err;
}

TEST(Termination, ErrorWithAndWithoutMessage) {
  EXPECT_EQ(output_of([] { error("Can't find attachments (err=1)."); }),
            "Can't find attachments (err=1).\n" + kEnding);
  EXPECT_EQ(output_of([] { error(nullptr); }, 0), kEnding);
}

TEST(Termination, ErrorErrnoLayout) {
  std::string denied = strerror(EACCES);
  EXPECT_EQ(output_of([] { error_errno("Can't create file", "(err=5).", EACCES); }),
            "Can't create file - " + denied + " (err=5).\n" + kEnding);
  EXPECT_EQ(output_of([] { error_errno("Error saving data", nullptr, 0); }), "Error saving data\n" + kEnding);
  EXPECT_EQ(output_of([] { error_errno("Error saving data", "(err=1).", 0); }),
            "Error saving data (err=1).\n" + kEnding);
  EXPECT_EQ(output_of([] { error_errno(nullptr, nullptr, EEXIST); }), " - " + std::string(strerror(EEXIST)) + "\n" + kEnding);
  EXPECT_EQ(output_of([] { error_errno(nullptr, nullptr, 0); }), "\n" + kEnding);
  // Input that ended is no choice either.
  EXPECT_EQ(output_of([] {
              fclose(stdin);
              freopen("/dev/null", "r", stdin);
              getchar();
              error(nullptr);
            }),
            kEnding);
}

TEST(Termination, ClosesTheAttachmentFile) {
  // The child opens a file as the attachment; exit must close it cleanly
  // and still exit with 0.
  EXPECT_EQ(output_of([] {
              attachment_file = fopen("/dev/null", "rb");
              close_and_exit();
            },
                      0),
            "");
}

}  // namespace
