// Page identifiers and answers. Prompt answers and page results share one
// number space: a page returns the answer of its last prompt where it can.
#pragma once

enum WizardPage {
  PAGE_WELCOME = 0,
  PAGE_LICENCE = 3,
  PAGE_DIRECTORY = 4,
  PAGE_EXISTING_DIRECTORY = 10,
  PAGE_INSTALL = 15,
  PAGE_FILES_INSTALLED = 20,
  PAGE_COMPLETE = 99,
};

enum Answer {
  ANSWER_OK = 1,
  ANSWER_CANCEL = 2,
  ANSWER_YES = 6,
  ANSWER_NO = 7,
  // The licence answers are the character codes of their keys.
  ANSWER_ACCEPT = 'a',
  ANSWER_DISPLAY = 'd',
  ANSWER_BACK = 102,
  ANSWER_NEXT = 103,
  ANSWER_PRINT = 'p',
  ANSWER_SLOWDISPLAY = 's',
};

static_assert(ANSWER_ACCEPT == 97 && ANSWER_DISPLAY == 100 && ANSWER_PRINT == 112 &&
              ANSWER_SLOWDISPLAY == 115);
