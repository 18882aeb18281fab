# SPDX-License-Identifier: MIT
# Our own targets build warning-free (KORVEL_WERROR, on by default and in CI, makes a warning an error);
# third-party code keeps its own flags.
function(korvel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
  if(KORVEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  # GCC 12 reports -Wrestrict inside libstdc++'s std::string operator+ at -O2 (GCC bug 105329): a false
  # alarm in the library, not in our code.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
endfunction()
