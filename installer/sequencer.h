// The page sequencer: one page at a time, Back, Next or Cancel.
#pragma once

using PageAction = int (*)();

// The action of each page; main passes the real pages, tests their own.
struct WizardPages {
  PageAction welcome;
  PageAction licence;
  PageAction directory;
  PageAction existing_directory;
  PageAction install;  // runs the installation and returns ANSWER_NEXT
  PageAction files_installed;
};

// Runs pages from `first_page` until PAGE_COMPLETE, whose text it writes,
// and then returns. Cancel and bad page results end the process via error().
void run_sequencer(const WizardPages& pages, int first_page);
