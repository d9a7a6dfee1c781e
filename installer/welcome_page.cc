// The welcome page: the title and thanks (the vendor's, else the installer's
// own), the product named by the attachment header and the build stamp, which
// is given in UTC so that it reads the same wherever the installer runs.
#include <cstdio>
#include <iterator>

#include "engine/present/utc_time.h"
#include "installer/answers.h"
#include "installer/installer_state.h"
#include "installer/pages.h"
#include "installer/prompts.h"

namespace {

const char install_title[] = "ZOLT(R) Software Installation";
const char install_thanks[] = "Thanks for purchasing ZOLT(R) imaging products.";

}  // namespace

int welcome_page() {
  if (quiet) return ANSWER_NEXT;
  const UtcTime when = utc_time(header_build_time(attachment_header));

  char name[HEADER_TEXT_SIZE], version[HEADER_TEXT_SIZE], platform[HEADER_TEXT_SIZE];
  header_text(attachment_header, HEADER_PRODUCT_NAME, name);
  header_text(attachment_header, HEADER_PRODUCT_VERSION, version);
  header_text(attachment_header, HEADER_PLATFORM, platform);

  fprintf(stderr, "\n\n%s\n\n", vendor_text_or(VENDOR_TITLE, install_title));
  fprintf(stderr, "%s\n\n", vendor_text_or(VENDOR_THANKS, install_thanks));
  fprintf(stderr, "Let's install  %s %s %s software!", name, version, platform);
  fprintf(stderr, " (build %.2d%.2d%.2d.%.2d%.2d%.2d) ", when.year % 100, when.month, when.day, when.hour,
          when.minute, when.second);
  fputs("!\n", stderr);

  static const int keys[] = {'c', 'n'};
  static const int results[] = {ANSWER_CANCEL, ANSWER_NEXT};
  return choice_prompt(nullptr, keys, "Next? Cancel?", results, int(std::size(keys)), ANSWER_NEXT);
}
