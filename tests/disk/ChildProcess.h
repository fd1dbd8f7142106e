// The process runner lives in tests/support (tivoran_disk_test_support).
// This name stays for the zudadmin tests, which include it from here until
// they move to their own folder.
#pragma once

#include "support/ChildProcess.h"
