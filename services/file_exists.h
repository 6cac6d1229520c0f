// The one test of whether a file can be read, below the boxes and the sounds that
// both use it.
#pragma once

namespace tarmic {

// Whether the file is a regular file that can be opened for reading (false for
// directories, and for pipes and devices, whose opening may wait for ever).
bool FileExists(const char* name);

}  // namespace tarmic
