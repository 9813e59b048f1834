# Every target of the project gets the same warnings; the test build also makes them errors
# and adds the sanitizers.
add_library(vandrel_options INTERFACE)
target_compile_options(vandrel_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
if(VANDREL_WERROR)
  target_compile_options(vandrel_options INTERFACE -Werror)
endif()
if(VANDREL_SANITIZE)
  target_compile_options(vandrel_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(vandrel_options INTERFACE -fsanitize=address,undefined)
endif()
