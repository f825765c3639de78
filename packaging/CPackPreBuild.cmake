# Run by cpack on the installed tree before it packs it. CPack strips the programs' symbols but
# keeps the compiler's .comment section, which Debian's own strip step removes too: from the
# programs and from the QR decoder module they load.
file(GLOB _tokvane_programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*"
     "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/lib/tokvane/*.so")
foreach(program IN LISTS _tokvane_programs)
  execute_process(COMMAND strip --remove-section=.comment "${program}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "strip --remove-section=.comment ${program} failed: ${result}")
  endif()
endforeach()
