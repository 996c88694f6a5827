# SPDX-License-Identifier: MIT
# Run by cpack after it has made the packages, before it copies them out.
# cpack writes a tarball's entries in the order the file system lists them,
# owned by whoever builds and with modes that follow the umask.  Each
# .tar.gz is made again from the same staged folder: sorted by name, owned
# by root, with the usual modes, every entry dated by the build's time
# stamp, and compressed with no name or time in the gzip header.  It then
# depends on its contents alone.
get_filename_component(parent "${CPACK_TEMPORARY_DIRECTORY}" DIRECTORY)
get_filename_component(folder "${CPACK_TEMPORARY_DIRECTORY}" NAME)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.tar\\.gz$")
    continue()
  endif()
  execute_process(
    COMMAND tar --create --format=gnu --sort=name
      --owner=root:0 --group=root:0 --mode=u+rw,go=rX
      "--mtime=@$ENV{SOURCE_DATE_EPOCH}" --directory "${parent}" -- "${folder}"
    COMMAND gzip -9n
    OUTPUT_FILE "${package}"
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
