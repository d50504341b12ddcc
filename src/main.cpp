#include "startup/startup.h"

int main(int argc, char **argv) { return startup::Main(argc, argv); }
