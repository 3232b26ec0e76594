#include "console.h"
#include "vardlix_app.h"

int main(int argc, char** argv) {
  CStandardStreams streams;
  return RunVardlix(ReadCommandLine(argc, argv));
}
