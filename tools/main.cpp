#include "commands/vardlix_app.h"
#include "system/console.h"

int main(int argc, char** argv) {
  CStandardStreams streams;
  return RunVardlix(ReadCommandLine(argc, argv));
}
