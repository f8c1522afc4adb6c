#pragma once
// The files of the system the program was built for, for the parts that run on either (the
// simulator and its tests).

#ifdef _WIN32
#include "windows/win32_files.h"
namespace vesquin {
using NativeFileSystem = windows::Win32FileSystem;
}
#else
#include "platform/posix_files.h"
namespace vesquin {
using NativeFileSystem = PosixFileSystem;
}
#endif
