// choice_prompt and its wrappers, each run in a child on scripted input: the
// answers go to standard output, the prompt lines are on standard error.
#include "installer/prompts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "installer/answers.h"
#include "installer/installer_state.h"
#include "tests/support/process.h"

namespace {

struct Asked {
  std::string answers;  // each answer, then a blank
  std::string prompts;
};

// Runs `ask` in a child on `input` until it has given `count` answers.
Asked ask(const std::function<int()>& ask_once, const std::string& input, int count = 1,
          bool with_autonext = false) {
  ProcessOptions options;
  options.input = input;
  options.timeout_seconds = 10;
  ProcessResult r = run_in_child(
      [&] {
        autonext = with_autonext;
        for (int i = 0; i < count; i++) printf("%d ", ask_once());
      },
      options);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_status, 0);
  return {r.out, r.err};
}

std::string answers(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += std::to_string(v) + " ";
  return s;
}

const std::string kNoYes = "\nSure? [No? Yes? Cancel?]: ";
const std::string kBackNext = "\n[Back? Next? Cancel?]: ";
const std::string kOk = "\nGo? [Ok? Cancel?]: ";

int no_yes() { return ask_no_yes_cancel("Sure?", 0); }
int ok() { return ask_ok_cancel("Go?"); }

TEST(Prompts, KeysOfTheWrappers) {
  Asked a = ask(no_yes, "y\nn\nc\nY\nN\nC\n", 6);
  EXPECT_EQ(a.answers, answers({ANSWER_YES, ANSWER_NO, ANSWER_CANCEL, ANSWER_YES, ANSWER_NO, ANSWER_CANCEL}));
  EXPECT_EQ(a.prompts, kNoYes + kNoYes + kNoYes + kNoYes + kNoYes + kNoYes);

  a = ask(ask_back_next_cancel, "b\nn\nc\nB\n", 4);
  EXPECT_EQ(a.answers, answers({ANSWER_BACK, ANSWER_NEXT, ANSWER_CANCEL, ANSWER_BACK}));
  EXPECT_EQ(a.prompts, kBackNext + kBackNext + kBackNext + kBackNext);

  a = ask(ok, "o\nO\nc\n", 3);
  EXPECT_EQ(a.answers, answers({ANSWER_OK, ANSWER_OK, ANSWER_CANCEL}));
  EXPECT_EQ(a.prompts, kOk + kOk + kOk);
}

TEST(Prompts, Autonext) {
  // A prompt with a default answers itself and writes nothing ...
  Asked a = ask(ask_back_next_cancel, "", 1, true);
  EXPECT_EQ(a.answers, answers({ANSWER_NEXT}));
  EXPECT_EQ(a.prompts, "");
  a = ask([] { return ask_no_yes_cancel("Sure?", ANSWER_YES); }, "", 1, true);
  EXPECT_EQ(a.answers, answers({ANSWER_YES}));
  EXPECT_EQ(a.prompts, "");
  // ... one without a default still asks.
  a = ask(ok, "o\n", 1, true);
  EXPECT_EQ(a.answers, answers({ANSWER_OK}));
  EXPECT_EQ(a.prompts, kOk);
  a = ask(no_yes, "n\n", 1, true);
  EXPECT_EQ(a.answers, answers({ANSWER_NO}));
  // Without -autonext Enter never picks the default.
  a = ask(ask_back_next_cancel, "\nb\n");
  EXPECT_EQ(a.answers, answers({ANSWER_BACK}));
  EXPECT_EQ(a.prompts, kBackNext + kBackNext);
}

TEST(Prompts, LinesWithoutAKeyAskAgain) {
  Asked a = ask(ask_back_next_cancel, "\n\nn\n");
  EXPECT_EQ(a.answers, answers({ANSWER_NEXT}));
  EXPECT_EQ(a.prompts, kBackNext + kBackNext + kBackNext);
  // Non-keys are skipped silently, up to the first key wherever it stands.
  a = ask(ask_back_next_cancel, "xyz\n  x Next\nNEXT\ncancel\n", 3);
  EXPECT_EQ(a.answers, answers({ANSWER_NEXT, ANSWER_NEXT, ANSWER_CANCEL}));
  EXPECT_EQ(a.prompts, kBackNext + kBackNext + kBackNext + kBackNext);
  // Bytes above 127 are not letters to fold.
  a = ask(ok, "\xcf\xef\no\n");
  EXPECT_EQ(a.answers, answers({ANSWER_OK}));
}

TEST(Prompts, OnlyTheFirstKeyOfALineCounts) {
  // "bn": Back, and the n goes with the rest of the line.
  Asked a = ask(ask_back_next_cancel, "bn\nc\n", 2);
  EXPECT_EQ(a.answers, answers({ANSWER_BACK, ANSWER_CANCEL}));
  // A NUL also ends the dropped rest; what follows it is the next line.
  a = ask(ask_back_next_cancel, std::string("b x\0n\n", 6), 2);
  EXPECT_EQ(a.answers, answers({ANSWER_BACK, ANSWER_NEXT}));
  EXPECT_EQ(a.prompts, kBackNext + kBackNext);
}

TEST(Prompts, NulCancelsAndLeavesTheLineUnread) {
  Asked a = ask([] { return ask_back_next_cancel() * 1000 + getchar(); }, std::string("\0nb\n", 4));
  EXPECT_EQ(a.answers, answers({ANSWER_CANCEL * 1000 + 'n'}));
  EXPECT_EQ(a.prompts, kBackNext);
}

TEST(Prompts, EndOfInputCancels) {
  // At the prompt, after a line without a key, and while dropping the rest of
  // a line: the prompt returns Cancel instead of reading on.
  for (const char* input : {"", "x", "\n", "b", "bx"}) {
    Asked a = ask(ask_back_next_cancel, input);
    EXPECT_EQ(a.answers, answers({ANSWER_CANCEL})) << '"' << input << '"';
    a = ask(ok, input);
    EXPECT_EQ(a.answers, answers({ANSWER_CANCEL})) << '"' << input << '"';
  }
}

}  // namespace
