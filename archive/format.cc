#include "archive/format.h"

namespace {

// The marker with the character at MARKER_ALTERED_INDEX lowered by one ('4'
// where the marker has '5'). 36 letters, then 216 digits.
const char marker_copy[MARKER_SIZE + 1] =
    "ZOLT(R)....SOFTWARE.....DISTRIBUTION"
    "185947483282934729385792938102382358104503028582458593028480274058238583083967392048592375930573920547769332251686535875121018012084105105684165201230235254340643554230423544234212869320204830584579332059862389425312";

static_assert(sizeof marker_copy == MARKER_SIZE + 1);

}  // namespace

void make_marker(uint8_t out[MARKER_SIZE]) {
  memcpy(out, marker_copy, MARKER_SIZE);
  // Through a volatile so that the compiler cannot fold the finished marker
  // into a constant of the image.
  volatile uint8_t* fix = out + MARKER_ALTERED_INDEX;
  *fix = uint8_t(*fix + 1);
}
