// Lote: the calculator without its window, for checking many cases:
//
//   tivoran --calc FILE... [--edias N] [--json]
//
// Each case file is loaded exactly as "Cargar supuesto" loads it (the same
// window code, the window never shown), recalculated, optionally given N
// days of qualifying period as if typed into Edias, and its result printed:
// a readable summary, or with --json one compact JSON object per file, one
// per line, with `file`,
// `messages` (the boxes the window showed, in order), `entered` and
// `generated` (rows of the two grids, each field as the grid shows it) and
// `labels` (the result captions and LFinalColour: "green", "red" or "").
// Several files print one result each, in order. Exit code 0, or 1 when a
// file could not be read or loaded; 2 for a wrong command line.
//
// The window works on a scratch copy of the database beside the
// executable, so the batch runs beside an open calculator.
//
// Thread use: the GUI thread, with its own application object.
#pragma once

// Whether the command line asks for the batch mode.
bool EsModoLote(int argc, char** argv);
// Runs it; returns the exit code.
int EjecutarLote(int argc, char** argv);
