// What the process writes on standard error while a body of test code
// runs: the program's one-line reports are part of what it does.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support/temp_dir.h"

template <class Body> std::string StandardError(Body body) {
  TempDir folder;
  const std::string path = folder.path() + "/stderr";
  std::fflush(stderr);
  const int saved = dup(2);
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(file, 2);
  close(file);
  body();
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  return ReadFile(path);
}
