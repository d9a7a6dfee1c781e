// Lines the installer owes the user once the run's own output is over: each
// path of the product it left alone because it changed since it was
// installed, and a record it could not keep. They are written when the
// process exits, behind "Installation complete." or wherever the run ended,
// so that the dialogue itself reads as it always has.
#pragma once

// Keeps `text`, then `path` when not null, as one line for the end.
void note_after_installation(const char* text, const char* path);
