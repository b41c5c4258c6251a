// The one source of a precompiled-header anchor library (see
// cmake/precompiled_headers.cmake); the library itself holds nothing.
