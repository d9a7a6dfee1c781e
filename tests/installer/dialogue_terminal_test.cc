// The real installer on a pseudo-terminal: what the screen shows when the
// user types at it, end of input typed as ^D, and slow display with echo.
#include <gtest/gtest.h>

#include <string>

#include "installer/directory_selection.h"
#include "tests/installer/dialogue_texts.h"
#include "tests/support/pty_process.h"

namespace {

using namespace dialogue;

TEST(DialogueOnATerminal, SlowDisplayWaitsForEnterAfterEachLine) {
  PtyOptions options;
  options.echo = true;
  PtyProcess p(installer_path(), options);
  ASSERT_TRUE(p.wait_for(kNextCancel));
  p.send("n\n");
  ASSERT_TRUE(p.wait_for(kLicenceQuestion));
  p.send("s\n");
  std::string screen = kWelcome + kNextCancel + "n\n" + licence_display() + kLicenceQuestion + "s\n\n\n";
  for (const char* const* line = licence_lines; *line; line++) {
    ASSERT_TRUE(p.wait_for(*line)) << *line;
    p.send("\n");
    // The echo of Enter is what ends the line on the screen.
    screen += std::string(*line) + "\n";
  }
  ASSERT_TRUE(p.wait_for(kLicenceQuestion));
  p.send("c\n");
  PtyResult r = p.finish();
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.terminal, screen + kLicenceQuestion + "c\n" + kTerminated);
}

TEST(DialogueOnATerminal, EndOfInputTypedAtAPromptAndDuringSlowDisplay) {
  {
    PtyProcess p(installer_path());
    ASSERT_TRUE(p.wait_for(kNextCancel));
    p.send_eof();
    PtyResult r = p.finish();
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 1) << "input that ended is no choice";
    EXPECT_EQ(r.terminal, kWelcome + kNextCancel + kTerminated);
  }
  {
    PtyProcess p(installer_path());
    ASSERT_TRUE(p.wait_for(kNextCancel));
    p.send("n\n");
    ASSERT_TRUE(p.wait_for(kLicenceQuestion));
    p.send("s\n");
    ASSERT_TRUE(p.wait_for(std::string("\n\n") + licence_lines[0]));
    p.send_eof();
    PtyResult r = p.finish();
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 1) << "input that ended is no choice";
    EXPECT_EQ(r.terminal, kWelcome + kNextCancel + licence_display() + kLicenceQuestion + "\n\n" +
                              licence_lines[0] + kTerminated);
  }
}

TEST(DialogueOnATerminal, AutonextAsksOnlyForTheLicence) {
  if (is_directory("/usr/local/qumba") == 1) GTEST_SKIP() << "/usr/local/qumba exists on this machine";
  PtyOptions options;
  options.args = {"-autonext"};
  options.echo = true;
  PtyProcess p(installer_path(), options);
  ASSERT_TRUE(p.wait_for(kLicenceQuestion));
  p.send("a\n");
  PtyResult r = p.finish();
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.terminal, kWelcome + licence_display() + kLicenceQuestion + "a\n" + kHeading +
                            "\n\nDefault directory: /usr/local/qumba.\n" + kInstalling + kFilesInstalled + kComplete);
}

}  // namespace
