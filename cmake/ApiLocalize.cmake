# Run by orva_api_local_archive (ApiExports.cmake) at build time: links the
# objects given after "--" into one relocatable object OUTPUT and keeps global
# only the names of KEEP and the weak definitions.
include(${CMAKE_CURRENT_LIST_DIR}/RunChecked.cmake)

set(objects)
set(seen_separator FALSE)
foreach(index RANGE ${CMAKE_ARGC})
  if(seen_separator AND index LESS CMAKE_ARGC)
    list(APPEND objects "${CMAKE_ARGV${index}}")
  elseif("${CMAKE_ARGV${index}}" STREQUAL "--")
    set(seen_separator TRUE)
  endif()
endforeach()

set(whole ${OUTPUT}.whole)
run(${LINKER} -r -o ${whole} ${objects})
run(${NM} --defined-only --format=posix ${whole})
string(REGEX MATCHALL "[^\n]+ [VWu] " weak "${output}")
list(TRANSFORM weak REPLACE " [VWu] $" "")
file(READ ${KEEP} keep)
list(JOIN weak "\n" weak)
file(WRITE ${OUTPUT}.keep "${keep}${weak}\n")
run(${OBJCOPY} --wildcard --keep-global-symbols=${OUTPUT}.keep ${whole} ${OUTPUT})
file(REMOVE ${whole})
