// The resource compilers' own readers as oracles for the files the tool writes:
// llvm-cvtres and the mingw windres must accept them and see in them what the
// test reader sees.
#pragma once

#include <string>

// Empty when every reader accepts `bytes` and finds the same entries as
// readResFile; otherwise which reader objected and what it said. The readers are
// Linux programs: the Win32 build cannot run them and checks nothing here (both
// builds write the same bytes, and the native run of the same tests checks them).
std::string rejectionByResourceReaders(const std::string& bytes);
