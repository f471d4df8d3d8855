# Compiler and linker settings shared by every Windows target of the project.
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} --codepage=65001")
# Two checkouts in different folders build the same bytes: no build path reaches an object file.
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.;-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>")
# The installer spends its time waiting for the file system, not computing: optimised for size.
string(REPLACE "-O3" "-Os" CMAKE_C_FLAGS_RELEASE "${CMAKE_C_FLAGS_RELEASE}")
string(REPLACE "-O3" "-Os" CMAKE_CXX_FLAGS_RELEASE "${CMAKE_CXX_FLAGS_RELEASE}")
# What ships carries no debug information (the runtime libraries bring theirs along) and no link time.
set(GLIMMERLY_SHIPPED_LINK_OPTIONS -s -Wl,--no-insert-timestamp)

function(glimmerly_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# A statically linked GUI program that declares Windows 5.1 (XP) as its minimum.
function(glimmerly_gui_program target)
  glimmerly_warnings(${target})
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/framework/LoadConfig.c)
  # The linker leaves the header's load-configuration entry empty; the link map says where it lies.
  set(link_map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  target_link_options(${target} PRIVATE -Wl,-Map=${link_map})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/set_load_config.py $<TARGET_FILE:${target}> ${link_map}
    VERBATIM)
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE)
  target_link_options(${target} PRIVATE -municode -mwindows -static -static-libgcc -static-libstdc++
    -Wl,--major-subsystem-version,5,--minor-subsystem-version,1
    -Wl,--major-os-version,5,--minor-os-version,1 ${GLIMMERLY_SHIPPED_LINK_OPTIONS})
endfunction()

# A statically linked DLL for Windows 5.1.
function(glimmerly_dll target)
  glimmerly_warnings(${target})
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE)
  set_target_properties(${target} PROPERTIES PREFIX "")
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++
    -Wl,--major-subsystem-version,5,--minor-subsystem-version,1
    -Wl,--major-os-version,5,--minor-os-version,1 ${GLIMMERLY_SHIPPED_LINK_OPTIONS})
endfunction()
