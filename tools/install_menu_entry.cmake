# The desktop's menu entry, icons and AppStream metadata in the user's XDG data folder,
# starting the program in FOLDER. Run at install time with SOURCE (the source tree),
# METAINFO (the configured metadata file) and FOLDER set.
get_filename_component(CORVANE_FOLDER "${FOLDER}" ABSOLUTE)
set(data "$ENV{XDG_DATA_HOME}")
if(NOT data)
  set(data "$ENV{HOME}/.local/share")
endif()

# A desktop entry's values are strings, whose backslashes are escaped; Exec is then a
# command line whose quoted words escape " ` $ and \ with a backslash and whose literal %
# is %%. Any folder name then starts the program.
set(word "${CORVANE_FOLDER}/corvane")
foreach(special "\\" "\"" "`" "$")
  string(REPLACE "${special}" "\\${special}" word "${word}")
endforeach()
string(REPLACE "%" "%%" word "\"${word}\"")
string(REPLACE "\\" "\\\\" CORVANE_EXEC "${word}")
string(REPLACE "\\" "\\\\" CORVANE_PATH "${CORVANE_FOLDER}")

configure_file("${SOURCE}/src/resources/corvane.desktop.in"
  "${data}/applications/corvane.desktop" @ONLY)
foreach(size 16 32 48 64 128 256)
  file(INSTALL "${SOURCE}/src/resources/icons/corvane-${size}.png"
    DESTINATION "${data}/icons/hicolor/${size}x${size}/apps"
    RENAME corvane.png)
endforeach()
file(INSTALL "${METAINFO}" DESTINATION "${data}/metainfo")
message(STATUS "Menu entry: ${data}/applications/corvane.desktop")
