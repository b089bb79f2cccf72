// Small helpers shared by the modules.
//
// Threads: any; each helper touches only what it is given.
#pragma once

#include <cstdio>
#include <memory>

// A C stream that closes itself: UniqueFile f(std::fopen(path, "rb")).
struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;
