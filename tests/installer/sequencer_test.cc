// The sequencer driven with test pages that record the order they run in.
#include "installer/sequencer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/answers.h"
#include "tests/support/process.h"

namespace {

// Each test page writes its letter and returns the next scripted answer.
std::vector<int> script;
size_t step;

int next_answer(char letter) {
  fputc(letter, stderr);
  return step < script.size() ? script[step++] : ANSWER_CANCEL;
}

const WizardPages kPages = {
    [] { return next_answer('W'); }, [] { return next_answer('L'); },
    [] { return next_answer('D'); }, [] { return next_answer('E'); },
    [] { return next_answer('I'); }, [] { return next_answer('F'); },
};

std::string run(std::vector<int> answers, int first = PAGE_WELCOME) {
  script = std::move(answers);
  step = 0;
  ProcessResult r = run_in_child([&] { run_sequencer(kPages, first); });
  // A cancel is the user's choice; an internal error is a failure.
  EXPECT_EQ(r.exit_status, r.err.find("Install error") == std::string::npos ? 0 : 1);
  return r.err;
}

const std::string kEnding = "\n\nInstallation terminated.\n";
const std::string kComplete = "\n\nInstallation complete.\n\n";

TEST(Sequencer, RunsThePagesInOrder) {
  EXPECT_EQ(run({ANSWER_NEXT, ANSWER_NEXT, ANSWER_NEXT, ANSWER_NEXT, ANSWER_NEXT, ANSWER_NEXT}),
            "WLDEIF" + kComplete);
}

TEST(Sequencer, BackStepsOfTheTable) {
  // Back on the existing-directory warning returns to directory selection;
  // Back on the files-installed notice shows that notice again.
  EXPECT_EQ(run({ANSWER_NEXT, ANSWER_NEXT, ANSWER_NEXT, ANSWER_BACK, ANSWER_NEXT, ANSWER_NEXT,
                 ANSWER_NEXT, ANSWER_BACK, ANSWER_BACK, ANSWER_NEXT}),
            "WLDEDEIFFF" + kComplete);
  // The first three pages go back to themselves or the welcome page.
  EXPECT_EQ(run({ANSWER_BACK, ANSWER_NEXT, ANSWER_BACK, ANSWER_NEXT, ANSWER_NEXT, ANSWER_BACK, ANSWER_CANCEL}),
            "WWLWLDW" + kEnding);
  EXPECT_EQ(run({ANSWER_NEXT, ANSWER_NEXT, ANSWER_NEXT, ANSWER_NEXT, ANSWER_BACK, ANSWER_CANCEL}),
            "WLDEII" + kEnding);
}

TEST(Sequencer, CancelAndBadResults) {
  EXPECT_EQ(run({ANSWER_CANCEL}), "W" + kEnding);
  EXPECT_EQ(run({ANSWER_NEXT, 0}), "WL" "Install error (err=10).\n" + kEnding);
  for (int bad : {int(ANSWER_OK), int(ANSWER_YES), int(ANSWER_NO), int(ANSWER_ACCEPT), -1, 104})
    EXPECT_EQ(run({bad}), "W" "Install error (err=11).\n" + kEnding) << bad;
}

TEST(Sequencer, UnknownPage) {
  EXPECT_EQ(run({}, 7), "Install error (err=12).\n" + kEnding);
  EXPECT_EQ(run({ANSWER_NEXT}, PAGE_COMPLETE), kComplete);
}

}  // namespace
