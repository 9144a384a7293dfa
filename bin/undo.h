// The undo: finds the record that a conversion left, checks it against the
// file, writes the saved moov back over the in-place record and the new mdat
// header, and truncates the file to its original size.
#pragma once

int run_undo();
