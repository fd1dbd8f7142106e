// CalcDatabase: the calculator's database as the tests use it, built by
// the real mkdb from the repository's data once per test process, and
// copied fresh into each test's folder ("Tivoran.ZUD"), so no two tests
// (or two runs) share a file.
#pragma once

#include <filesystem>
#include <string>

// Path of the calculator's test program (calc_program), set by the build.
const char* CalcProgramPath();

// Copies a freshly built "Tivoran.ZUD" into `folder`; returns its path.
// Throws std::runtime_error when mkdb fails.
std::string CopyCalcDatabase(const std::filesystem::path& folder);
