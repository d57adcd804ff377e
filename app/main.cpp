// The zoniq executable: hands the command line to the library and maps the outcome to an
// exit status.
#include "app/main_program.hpp"

int main(int argc, char** argv) { return zoniq::RunZoniq(argc, argv, nullptr); }
