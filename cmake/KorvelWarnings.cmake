# SPDX-License-Identifier: MIT
# Our own targets build warning-free; third-party code keeps its own flags.
function(korvel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Werror)
endfunction()
