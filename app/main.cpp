// The zoniq executable: hands the command line to the library and maps the outcome to an
// exit status.
int main(int, char**) { return 0; }
