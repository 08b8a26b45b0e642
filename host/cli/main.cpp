#include <cstdio>

int main(int argc, char** argv) {
  std::fprintf(stderr, "velitems: no command is available yet\n");
  return 2;
}
