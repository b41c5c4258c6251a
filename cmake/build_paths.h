// The run-time paths of the build (see cmake/build_paths.cmake): a target
// built with dnt_build_paths() sees each NAME it was given as a macro naming
// one of these, defined in the target's generated source.
#pragma once

extern "C" {
extern const char dnt_build_path_DNT_SOURCE_ROOT[];
extern const char dnt_build_path_DNT_PROXY_PATH[];
extern const char dnt_build_path_DNTBASES_PATH[];
extern const char dnt_build_path_DNT_SCAN_PATH[];
extern const char dnt_build_path_DNT_ENGINE_PATH[];
extern const char dnt_build_path_DNT_SAMPLE_BASES[];
extern const char dnt_build_path_DNT_DEFAULT_BASES[];
extern const char dnt_build_path_DNT_ENGINE_MODULE[];
extern const char dnt_build_path_DNT_MODULE_BUILT[];
extern const char dnt_build_path_DNT_BASES_BUILT[];
}
