# Copies each folder of the sample workspace only where it is missing, so a rebuild
# never overwrites what the user keeps there.
foreach(folder collections scripts temp logs)
  if(NOT EXISTS "${DEST}/${folder}")
    if(EXISTS "${SOURCE}/${folder}")
      file(COPY "${SOURCE}/${folder}" DESTINATION "${DEST}")
    else()
      file(MAKE_DIRECTORY "${DEST}/${folder}")
    endif()
  endif()
endforeach()
