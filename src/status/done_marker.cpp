#include "status/done_marker.h"

#include "base/file_io.h"

void WriteDoneMarker(const WideString& donePath) { WriteFileAtomically(donePath, kDoneMarkerContent); }
