// Paths of the two programs under test, as Wine sees them (Z: is the Unix
// root); the build passes the Unix paths.
#pragma once

static const char kTarnwickExe[] = "Z:" BENCH_TARNWICK_EXE;
static const char kPellfrayExe[] = "Z:" BENCH_PELLFRAY_EXE;
