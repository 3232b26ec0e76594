#include "system/console.h"
#include "commands/vardlix_app.h"

int main(int argc, char** argv) {
  CStandardStreams streams;
  return RunVardlix(ReadCommandLine(argc, argv));
}
