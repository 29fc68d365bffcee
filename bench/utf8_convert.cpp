// Converts one UTF-8 file on disk exactly as a run does, so the conversion can be timed alone.
#include <cstdio>
#include <string>
#include <vector>

#include "core/utf8_input.h"
#include "platform/files.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s UTF8_INPUT [OTHER_INPUT]\n", argv[0]);
    return 2;
  }
  std::vector<vesmer::FileId> protect;
  for (int i = 1; i < argc; ++i) protect.push_back(vesmer::IdOfPath(argv[i]));
  const vesmer::Status s = vesmer::ConvertUtf8Input(argv[1], protect);
  if (!s.ok()) {
    std::fprintf(stderr, "%s: %s\n", s.what().c_str(), s.reason().c_str());
    return 1;
  }
  return 0;
}
