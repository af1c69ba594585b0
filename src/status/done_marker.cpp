#include "status/done_marker.h"

#include "app/file_io.h"

void WriteDoneMarker(const WideString& donePath) { WriteFileAtomically(donePath, kDoneMarkerContent); }
