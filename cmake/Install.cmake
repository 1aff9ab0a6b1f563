# Installing quom as a program of the system (`cmake --install build --prefix DIR`): the
# executable, its manual page, a desktop entry with the window's icon in the icon theme, a bash
# completion, the README and the licence. CPack turns the same rules into the Debian package
# (`./dev.sh package`), whose version is the project's, as `quom --version` and the manual page.
include(GNUInstallDirs)
# Installing (and CPack) takes what is built, and builds nothing itself: the package needs the
# program and its files, not the tests and benchmarks of a whole build (`./dev.sh package` builds
# what it needs first).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(QUOM_GENERATED_DIR ${CMAKE_CURRENT_BINARY_DIR}/generated)
set(QUOM_PACKAGING_DIR ${CMAKE_CURRENT_SOURCE_DIR}/packaging)

install(TARGETS quom RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The Debian package carries the licence as its copyright file (below), where Debian keeps it.
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT licence)

# The rest is for Linux: the manual page, the menu entry, its icons, the completion and the Debian
# package. The page and the icons come from programs the build runs, which a cross build cannot.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux" OR CMAKE_CROSSCOMPILING)
  return()
endif()
find_program(QUOM_GZIP gzip REQUIRED)
# The dates in the manual page and the changelog are the sources' own, so that the same sources
# make the same files: SOURCE_DATE_EPOCH when the build is given one, else the last commit's time.
set(QUOM_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
if(QUOM_SOURCE_DATE_EPOCH STREQUAL "")
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
    OUTPUT_VARIABLE QUOM_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT QUOM_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  string(TIMESTAMP QUOM_SOURCE_DATE_EPOCH "%s" UTC)
endif()

# Every library symbol bound at start, so that the whole table of them is read-only from then on
# (Debian's hardening; the compiler's defaults give the rest).
target_link_options(quom PRIVATE LINKER:-z,now)

# The manual page is quom --help, so that it documents every option the program has, with
# sections of its own for the keys and the exit statuses and the extra text in quom.h2m.
find_program(QUOM_HELP2MAN help2man REQUIRED)
set(QUOM_MAN_PAGE ${QUOM_GENERATED_DIR}/quom.1.gz)
add_custom_command(
  OUTPUT ${QUOM_MAN_PAGE}
  COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${QUOM_SOURCE_DATE_EPOCH}
    ${CMAKE_COMMAND} -DHELP2MAN=${QUOM_HELP2MAN} -DGZIP=${QUOM_GZIP}
    -DPROGRAM=$<TARGET_FILE:quom> -DINCLUDE=${QUOM_PACKAGING_DIR}/quom.h2m
    -DOUTPUT=${QUOM_MAN_PAGE} -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/ManPage.cmake
  DEPENDS quom ${QUOM_PACKAGING_DIR}/quom.h2m ${CMAKE_CURRENT_SOURCE_DIR}/cmake/ManPage.cmake
  COMMENT "Writing the manual page"
  VERBATIM)

# The icon theme's sizes, drawn by the window icon's own function.
find_package(PNG REQUIRED)
add_executable(quom_icon_png tools/icon_png.cpp resources/Icon.cpp)
target_include_directories(quom_icon_png PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(quom_icon_png PRIVATE PNG::PNG)
set(QUOM_ICONS)
foreach(size 16 32 48 64 128 256)
  set(icon ${QUOM_GENERATED_DIR}/icons/${size}x${size}/quom.png)
  add_custom_command(
    OUTPUT ${icon}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUOM_GENERATED_DIR}/icons/${size}x${size}
    COMMAND quom_icon_png ${size} ${icon}
    DEPENDS quom_icon_png
    COMMENT "Drawing the ${size}-pixel icon"
    VERBATIM)
  list(APPEND QUOM_ICONS ${icon})
  install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

add_custom_target(quom_desktop_files ALL DEPENDS ${QUOM_MAN_PAGE} ${QUOM_ICONS})
install(FILES ${QUOM_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${QUOM_PACKAGING_DIR}/quom.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# bash-completion loads a command's completion by its name when it is first completed.
install(FILES ${QUOM_PACKAGING_DIR}/quom.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quom)

# The Debian package. Its dependencies are worked out from the libraries the executable links
# (dpkg-shlibdeps); Debian's policy wants a copyright file and a changelog beside the docs, made
# here from the licence and the version.
set(QUOM_PACKAGE_MAINTAINER "the quom developers <quom@example.org>" CACHE STRING
  "Name and address in the Debian package's Maintainer field")
# The copyright file holds the licence in Debian's machine-readable form: the holder from its
# copyright line, the permission text under it, each line indented, blank lines as " .".
file(READ ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE QUOM_LICENSE_TEXT)
if(NOT QUOM_LICENSE_TEXT MATCHES "Copyright \\(c\\) ([^\n]+)\n+(.*[^\n])\n*$")
  message(FATAL_ERROR "LICENSE has no line 'Copyright (c) YEAR HOLDER' followed by its terms")
endif()
set(QUOM_COPYRIGHT "${CMAKE_MATCH_1}")
string(REPLACE "\n\n" "\n.\n" QUOM_LICENSE_BODY "${CMAKE_MATCH_2}")
string(REPLACE "\n" "\n " QUOM_LICENSE_BODY " ${QUOM_LICENSE_BODY}")
configure_file(${QUOM_PACKAGING_DIR}/copyright.in ${QUOM_GENERATED_DIR}/debian/copyright @ONLY)
# string(TIMESTAMP) formats SOURCE_DATE_EPOCH, when the environment has it, instead of the time.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  string(TIMESTAMP QUOM_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
else()
  set(ENV{SOURCE_DATE_EPOCH} ${QUOM_SOURCE_DATE_EPOCH})
  string(TIMESTAMP QUOM_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  unset(ENV{SOURCE_DATE_EPOCH})
endif()
configure_file(${QUOM_PACKAGING_DIR}/changelog.in ${QUOM_GENERATED_DIR}/debian/changelog @ONLY)
set(QUOM_CHANGELOG ${QUOM_GENERATED_DIR}/debian/changelog.gz)
add_custom_command(
  OUTPUT ${QUOM_CHANGELOG}
  COMMAND ${QUOM_GZIP} -9nkf ${QUOM_GENERATED_DIR}/debian/changelog
  DEPENDS ${QUOM_GENERATED_DIR}/debian/changelog
  VERBATIM)
add_custom_target(quom_package_docs ALL DEPENDS ${QUOM_CHANGELOG})
install(FILES ${QUOM_GENERATED_DIR}/debian/copyright ${QUOM_CHANGELOG}
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quom)
set(CPACK_PACKAGE_VENDOR "the quom developers")
set(CPACK_PACKAGE_CONTACT "${QUOM_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "synthesises a two-minute piece of music and plays it")
set(CPACK_PACKAGE_DESCRIPTION [=[
quom synthesises a complete two-minute piece of music from a compact
note list built into the program, showing its progress in a small
window, then plays it once and exits. Tones come from a self-smoothing
wavetable oscillator, percussion from a simulated struck plate, and the
mix goes through buffer effects, a multi-tap reverb and a compressor.
Every run gives the same samples, to the bit, on every machine.

It also writes the piece to WAV, FLAC, Ogg Vorbis, MP3 or Opus files,
plays other note lists and Standard MIDI Files with its instruments, and
exports its note list as a MIDI file. Without a display it plays on the
terminal, with keys to pause and seek.]=])
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
# One package of everything, the Debian files included.
set(CPACK_INSTALL_CMAKE_PROJECTS
  "${CMAKE_CURRENT_BINARY_DIR};quom;Unspecified;/" "${CMAKE_CURRENT_BINARY_DIR};quom;debian;/")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/package)
include(CPack)
