#include "service/cli/entry.hpp"

int main(int argc, char** argv) { return plexmill::cli::runMain(argc, argv); }
