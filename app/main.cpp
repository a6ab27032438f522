// The program's entry.
#include "app/startup.h"

int main(int argc, char** argv) { return vov::runApplication(argc, argv); }
