// The one source of a precompiled-header anchor program (see
// cmake/precompiled_headers.cmake); the program does nothing.
int main() { return 0; }
