// Whether the stages after the download handle a cumulative patch: the download stage probes the
// server for it, the extraction and merge stages follow what it found.
#pragma once

// True when the patch list is not empty and the download stage found the cumulative patch.
bool CumulativePatchExpected();
