# Installation and the Debian package (cpack -G DEB): the binary, the man page
# compressed as Debian wants it, and the README, copyright and changelog.
set(package_name morvak-fragflat)
set(doc_dir share/doc/${package_name})
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The changelog carries the project's one version.
configure_file(docs/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
# gzip -n: no name or time stamp, so the same page gives the same bytes.
foreach(doc ${CMAKE_SOURCE_DIR}/docs/morvak_fragflat.1 ${CMAKE_BINARY_DIR}/changelog)
  get_filename_component(name ${doc} NAME)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${name}.gz
    COMMAND gzip -9 -n -c ${doc} > ${CMAKE_BINARY_DIR}/${name}.gz
    DEPENDS ${doc} VERBATIM)
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${CMAKE_BINARY_DIR}/morvak_fragflat.1.gz ${CMAKE_BINARY_DIR}/changelog.gz)

install(FILES ${CMAKE_BINARY_DIR}/morvak_fragflat.1.gz DESTINATION share/man/man1)
install(FILES README.md docs/copyright ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${package_name})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "morvak_fragflat developers <morvak-fragflat@lists.morvak.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://morvak.org/fragflat")
# CPack indents the lines after the first (the synopsis) itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "convert fragmented MP4 files into plain MP4 files in place
morvak_fragflat turns a fragmented MP4 recording (a movie atom with mvex,
then moof/mdat pairs) into an ordinary MP4 file that every player and
editor reads. It works in place: no second copy is made and no media byte
is read or moved, so it takes milliseconds whatever the size of the file.
The original can be restored byte for byte with --undo.")
include(CPack)
