#pragma once
// The product's version, in one place: the version resources of both libraries include it, and
// the build reads it for the installer packages (CMakeLists.txt).
#define HV_VERSION_MAJOR 1
#define HV_VERSION_MINOR 1
#define HV_VERSION_BUILD 0
#define HV_VERSION_REVISION 9
#define HV_VERSION_TEXT "1.1.0.9"
