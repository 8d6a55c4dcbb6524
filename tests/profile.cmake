# The profiling calls. profile_test checks call sites against its own
# source lines, so it carries debug information in every build type.
target_compile_options(profile_test PRIVATE -g)
