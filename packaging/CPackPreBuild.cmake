# Run by cpack on the installed tree before it packs it. CPack strips the programs' symbols but
# keeps the compiler's .comment section, which Debian's own strip step removes too.
file(GLOB _tokvane_programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
foreach(program IN LISTS _tokvane_programs)
  execute_process(COMMAND strip --remove-section=.comment "${program}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "strip --remove-section=.comment ${program} failed: ${result}")
  endif()
endforeach()
