# The usual hardening of a Linux program, each part only where this
# compiler, linker and C library support it, so that any toolchain still
# builds: canaries on the stack frames that hold arrays, checked copies
# and reads where the C library can see the buffer's size, a relocation
# table made read-only before main runs, and on x86 the marks for
# indirect-branch tracking and shadow stacks. scripts/check-elf checks the
# result. The sanitizer builds go without: their instrumentation checks
# all this and more, and the C library's checked calls would bypass the
# sanitizer's own.
include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)
include(CheckLinkerFlag)

# Position-independent executables are left to the compiler's default,
# which makes them on the common distributions: asking for them here
# would compile the libraries with -fPIC, whose calls between global
# functions may not be inlined.

check_cxx_compiler_flag(-fstack-protector-strong TESSALY_HAVE_STACK_PROTECTOR)
if(TESSALY_HAVE_STACK_PROTECTOR)
  add_compile_options(-fstack-protector-strong)
endif()

check_cxx_compiler_flag(-fcf-protection TESSALY_HAVE_CF_PROTECTION)
if(TESSALY_HAVE_CF_PROTECTION)
  add_compile_options(-fcf-protection)
endif()

# Level 3 also checks buffers whose size is known only at run time; it
# needs glibc 2.34 with GCC 12 or Clang 9, and glibc warns when it falls
# back to 2, so the level is the one the C library takes without a word.
# It works only in optimised code.
function(tessaly_fortify_level level result)
  set(CMAKE_REQUIRED_FLAGS "-O2 -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=${level} -Werror")
  set(CMAKE_REQUIRED_QUIET ON)
  check_cxx_source_compiles("
    #include <cstring>
    #if !defined __USE_FORTIFY_LEVEL || __USE_FORTIFY_LEVEL != ${level}
    #error not this level
    #endif
    int main() { return 0; }" ${result})
endfunction()
tessaly_fortify_level(3 TESSALY_HAVE_FORTIFY_3)
tessaly_fortify_level(2 TESSALY_HAVE_FORTIFY_2)
if(TESSALY_HAVE_FORTIFY_3)
  set(tessaly_fortify 3)
elseif(TESSALY_HAVE_FORTIFY_2)
  set(tessaly_fortify 2)
endif()
if(tessaly_fortify)
  add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=${tessaly_fortify}>")
endif()

# Full RELRO: every symbol is bound at start, then the table turns read-only.
check_linker_flag(CXX "LINKER:-z,relro,-z,now" TESSALY_HAVE_FULL_RELRO)
if(TESSALY_HAVE_FULL_RELRO)
  add_link_options("LINKER:-z,relro,-z,now")
endif()

message(STATUS "Hardening: stack protector ${TESSALY_HAVE_STACK_PROTECTOR}, "
               "control-flow protection ${TESSALY_HAVE_CF_PROTECTION}, "
               "_FORTIFY_SOURCE=${tessaly_fortify} in optimised builds, full RELRO ${TESSALY_HAVE_FULL_RELRO}")
