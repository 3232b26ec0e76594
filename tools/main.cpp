#include "vardlix_app.h"

int main(int argc, char** argv) { return RunVardlix(argc, argv); }
