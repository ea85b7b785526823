#pragma once
// The program entry: conversion mode or the interactive demo.

#include <iosfwd>
#include <string>

#include "display/display.hpp"

namespace tolvane {

// Runs the program as its command line asks (see parseCommandLine), with
// `out` and `err` for standard output and error, and gives its exit status: help and version (0), a bad command line (usage on
// standard error, 2), a conversion without opening a window, or the demo
// until the user quits. Display failures end the process inside
// initDisplay.
int runEntry(int argc, char** argv, std::ostream& out, std::ostream& err);

// The line warning that a window `scale` times the width x height surface
// will not fit the desktop; empty when it fits, when no scale was asked for
// (0: the program picks one that fits) or when the desktop is unknown.
std::string windowScaleWarning(int scale, DesktopSize desktop, int width, int height);

// The banner and key help, twelve lines, the last one flushed.
void printBanner(std::ostream& out);

// Conversion mode for one file name: 0 when converted or when the name has
// no known extension ("Done" on `out`, the reason on `err`), 2 when the
// conversion failed (the reason on `err`).
int convertArgument(const char* fileName, std::ostream& out, std::ostream& err);

}  // namespace tolvane
